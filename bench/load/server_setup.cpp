#include "server_setup.h"

#include <chrono>
#include <random>
#include <regex>
#include <string_view>
#include <utility>

#include "server_process.h"

namespace game501::load {
namespace {

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

constexpr std::chrono::seconds kHelpTime{10};

}  // namespace

// The option as a word of its own, "--data FILE", not "--database" or
// "--data-dir".
bool helpNamesData(const std::string& help) {
    static const std::regex option(R"((^|[^-\w])--data($|[\s=,\]]))");
    return std::regex_search(help, option);
}

ServerProgram probeServer(const std::string& path) {
    ServerProcess help(path, {"--help"});
    return {path, helpNamesData(help.outputUntilExit(Clock::now() + kHelpTime))};
}

ServerSetup prepareServer(const Options& options, const ServerProgram& program, JournalKind journal,
                          TempDir& dir) {
    ServerSetup setup;
    setup.tokens = makeTokens(options.boards);
    std::string token_lines;
    for (const std::string& token : setup.tokens) {
        token_lines += token + "\n";
    }
    const std::string tokens_file = dir.write("tokens", token_lines);
    setup.args = {"--listen", "127.0.0.1:0", "--boards", std::to_string(options.boards),
                  "--tokens", tokens_file};
    if (program.takes_data) {
        setup.data = journalData(journal, dir);
        setup.args.insert(setup.args.end(), {"--data", setup.data});
    }
    setup.args.insert(setup.args.end(), options.server_args.begin(), options.server_args.end());
    return setup;
}

}  // namespace game501::load
