#include "server_setup.h"

#include <random>
#include <string_view>
#include <utility>

namespace load {
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

}  // namespace

ServerSetup prepareServer(const Options& options, JournalKind journal, TempDir& dir) {
    ServerSetup setup;
    setup.tokens = makeTokens(options.boards);
    std::string token_lines;
    for (const std::string& token : setup.tokens) {
        token_lines += token + "\n";
    }
    const std::string tokens_file = dir.write("tokens", token_lines);
    setup.data = journalData(journal, dir);
    setup.args = {"--listen", "127.0.0.1:0", "--boards", std::to_string(options.boards),
                  "--tokens", tokens_file,   "--data",   setup.data};
    setup.args.insert(setup.args.end(), options.server_args.begin(), options.server_args.end());
    return setup;
}

}  // namespace load
