// Character classes of the "C" locale, whatever locale the process runs in:
// white space is the six ASCII white-space bytes, case folding changes only
// a to z, and digits are 0 to 9. Every length counts bytes.
#pragma once

#include <string>
#include <string_view>

namespace game501::ascii {

// The six white-space bytes of the "C" locale.
inline constexpr std::string_view kSpaces = " \t\n\v\f\r";

constexpr bool isSpace(char c) { return kSpaces.find(c) != std::string_view::npos; }

constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }

constexpr char toUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr char toLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Returns `text` without the bytes of `blanks` at either end.
constexpr std::string_view trimmed(std::string_view text, std::string_view blanks = kSpaces) {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Returns a copy of `text` without white space at either end.
inline std::string trim(std::string_view text) { return std::string(trimmed(text)); }

}  // namespace game501::ascii
