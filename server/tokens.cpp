#include "tokens.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <set>
#include <system_error>

#include "ascii.h"

namespace game501::server {

namespace {

constexpr std::size_t kTokenBytes = 16;  // 128 bits
// 128 bits in base 64, the shortest form a token from elsewhere can take.
constexpr std::size_t kMinTokenLength = 22;

bool isTokenCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '+' || c == '/' || c == '=';
}

// Blanks around a line, a line end written as CR LF included.
std::string_view trimmed(std::string_view text) { return ascii::trimmed(text, " \t\r"); }

}  // namespace

std::string makeToken() {
    std::array<unsigned char, kTokenBytes> bytes{};
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        filled += static_cast<std::size_t>(got);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (const unsigned char byte : bytes) {
        token += kHex[byte >> 4U];
        token += kHex[byte & 0x0FU];
    }
    return token;
}

std::optional<std::vector<std::string>> parseTokens(std::string_view text, std::string& error) {
    std::vector<std::string> tokens;
    std::set<std::string_view> seen;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty()) {
            continue;
        }
        const std::string number = std::to_string(tokens.size() + 1);
        if (line.size() < kMinTokenLength) {
            error =
                "token " + number + " är kortare än " + std::to_string(kMinTokenLength) + " tecken";
            return std::nullopt;
        }
        for (const char c : line) {
            if (!isTokenCharacter(c)) {
                error = "token " + number + " har tecken utanför A-Z a-z 0-9 - . _ ~ + / =";
                return std::nullopt;
            }
        }
        if (!seen.insert(line).second) {
            error = "token " + number + " finns redan för en annan tavla";
            return std::nullopt;
        }
        tokens.emplace_back(line);
    }
    return tokens;
}

bool tokensEqual(std::string_view given, std::string_view expected) {
    // Every byte of the longer text is visited, whatever matches, and the
    // difference is gathered without an early exit.
    const std::size_t length = given.size() > expected.size() ? given.size() : expected.size();
    unsigned difference = given.size() == expected.size() ? 0U : 1U;
    for (std::size_t i = 0; i < length; ++i) {
        const auto a = static_cast<unsigned char>(i < given.size() ? given[i] : 0);
        const auto b = static_cast<unsigned char>(i < expected.size() ? expected[i] : 0);
        difference |= static_cast<unsigned>(a ^ b);
    }
    return difference == 0U;
}

}  // namespace game501::server
