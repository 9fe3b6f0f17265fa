// Write tokens: one per board, made from the operating system's randomness or
// read from a file, and compared in constant time.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace game501::server {

// Returns a new token: 128 random bits from the operating system, as 32
// lower-case hexadecimal digits. Throws std::system_error when the system
// has no randomness to give.
std::string makeToken();

// Reads the tokens of a tokens file: one per line, board 1 first; blank
// lines and surrounding white space are ignored. Refuses (with a Swedish
// message in `error`) a token shorter than 22 characters or with characters
// outside [A-Za-z0-9-._~+/=], and a token given twice, since it would let
// one board's scorer write another board.
std::optional<std::vector<std::string>> parseTokens(std::string_view text, std::string& error);

// Returns whether `given` equals `expected`, in a time that depends only on
// their lengths, so that timing tells nothing about how much of a guess was
// right.
bool tokensEqual(std::string_view given, std::string_view expected);

}  // namespace game501::server
