// Feeds any bytes to parseDart. Every answer must be canonical and agree with
// an independent reading of the notation; white space around the text and
// the case of ASCII letters must never change it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "document_checks.h"
#include "fuzz_support.h"
#include "game_501.h"

namespace {

using game501::check::canonicalDart;
using game501::check::sameDart;
using game501::fuzz::require;

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Changes the case of ASCII letters only; both flags swap the case.
std::string mapLetters(std::string text, bool to_upper, bool to_lower) {
    for (char& c : text) {
        if (to_upper && c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (to_lower && c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// The notation grammar written out a second way: strip, fold, then either a
// special word or an optional S/D/T, any zeros, and a segment 1 to 20.
std::optional<Game501::DartValue> referenceRead(const std::string& raw) {
    std::size_t first = 0;
    std::size_t last = raw.size();
    while (first < last && isAsciiSpace(raw[first])) {
        ++first;
    }
    while (last > first && isAsciiSpace(raw[last - 1])) {
        --last;
    }
    const std::string text = mapLetters(raw.substr(first, last - first), true, false);
    for (const char* miss : {"MISS", "M", "0"}) {
        if (text == miss) {
            return Game501::DartValue{"MISS", 0, false};
        }
    }
    for (const char* outer : {"OUTER", "SB", "S25", "25"}) {
        if (text == outer) {
            return Game501::DartValue{"OUTER", 25, false};
        }
    }
    for (const char* bull : {"BULL", "DB", "D25", "50"}) {
        if (text == bull) {
            return Game501::DartValue{"BULL", 50, true};
        }
    }
    std::string prefix = "S";
    std::string digits = text;
    if (!text.empty() && (text[0] == 'S' || text[0] == 'D' || text[0] == 'T')) {
        prefix = text.substr(0, 1);
        digits = text.substr(1);
    }
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const std::size_t significant = digits.find_first_not_of('0');
    if (significant == std::string::npos) {
        return std::nullopt;
    }
    return canonicalDart(prefix + digits.substr(significant));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<Game501::DartValue> result = Game501::parseDart(text);

    if (result) {
        const auto canonical = canonicalDart(result->notation);
        require(canonical.has_value(), "notation \"" + result->notation + "\" is not canonical");
        require(sameDart(canonical, result), "points or double flag disagree with the notation");
        require(sameDart(Game501::parseDart(result->notation), result),
                "the canonical notation does not read back the same");
    }
    require(sameDart(referenceRead(text), result), "result differs from the grammar");

    const std::string spaces = " \t\n\v\f\r";
    const std::string variants[] = {
        spaces + text,
        text + spaces,
        "\r\n" + text + "\t ",
        mapLetters(text, true, false),
        mapLetters(text, false, true),
        mapLetters(text, true, true),
    };
    for (const std::string& variant : variants) {
        require(sameDart(Game501::parseDart(variant), result),
                "white space or letter case changed the result");
    }
    return 0;
}
