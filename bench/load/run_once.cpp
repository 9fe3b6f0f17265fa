#include "run_once.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "in_process.h"
#include "load_run.h"
#include "server_process.h"
#include "temp_dir.h"
#include "units.h"
#include "watchdog.h"

namespace load {
namespace {

constexpr std::chrono::seconds kServerStartTime{10};
constexpr std::chrono::seconds kHardTimeoutMargin{30};

std::vector<std::string> makeTokens(int boards) {
    std::random_device device;
    std::vector<std::string> tokens;
    const std::string_view digits = "0123456789abcdef";
    constexpr int kTokenDigits = 32;
    for (int board = 0; board < boards; ++board) {
        std::string token;
        for (int i = 0; i < kTokenDigits; ++i) {
            token += digits[device() % digits.size()];
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

}  // namespace

RunFigures runOnce(const Options& options, const Script& script) {
    const Clock::time_point begin = Clock::now();
    TempDir dir;
    std::vector<std::string> tokens = makeTokens(options.boards);
    std::string token_lines;
    for (const std::string& token : tokens) {
        token_lines += token + "\n";
    }
    const std::string tokens_file = dir.write("tokens", token_lines);

    std::vector<std::string> args = {"--listen", "127.0.0.1:0",
                                     "--boards", std::to_string(options.boards),
                                     "--tokens", tokens_file};
    args.insert(args.end(), options.server_args.begin(), options.server_args.end());
    ServerProcess server(options.server, args);
    // The most every phase may take, and a margin.
    const Clock::duration hard_limit =
        kServerStartTime + 2 * kConnectTime +
        std::chrono::duration_cast<Clock::duration>(Seconds(options.loadSeconds())) +
        kRequestTimeout + kDrainTime + kTeardownTime + kServerStopTime +
        std::chrono::duration_cast<Clock::duration>(Seconds(options.in_process_seconds)) +
        kHardTimeoutMargin;
    const Watchdog watchdog(begin + hard_limit, server.pid(), dir);
    const unsigned short port = server.waitForPort(options.boards, begin + kServerStartTime);

    RunFigures figures;
    {
        LoadRun load(options, script, server, port, std::move(tokens));
        figures = load.run();
        if (load.interrupted()) {
            figures.server_exit = server.stop();
            throw std::runtime_error("interrupted");
        }
    }
    figures.server_exit = server.stop();
    figures.server_clean = server.exitedCleanly();
    if (!figures.server_clean) {
        ++figures.errors;
        figures.error_messages.push_back("the server ended with " + figures.server_exit);
    }

    figures.in_process_by_cpu = inProcessByCpu(script, options.in_process_seconds);
    for (const auto& [cpu, darts_per_second] : figures.in_process_by_cpu) {
        figures.in_process_darts_per_second =
            std::max(figures.in_process_darts_per_second, darts_per_second);
    }
    figures.network_share = figures.in_process_darts_per_second > 0
                                ? figures.darts_per_second / figures.in_process_darts_per_second
                                : 0;
    return figures;
}

}  // namespace load
