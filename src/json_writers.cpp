#include "json_writers.h"

#include <charconv>

namespace game501 {

namespace {

// The length of the byte sequence at `at` and whether it is one well-formed
// UTF-8 character. An ill-formed one is its maximal part: the bytes that
// could begin a character, ending before the first byte that cannot go on
// (which is then read again) or at the end of the text.
struct Sequence {
    std::size_t length = 1;
    bool valid = false;
};

Sequence sequenceAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        return {1, true};
    }
    std::size_t trailing = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong form
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong form
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return {1, false};
    }
    for (std::size_t length = 1; length <= trailing; ++length) {
        if (at + length == text.size()) {
            return {length, false};
        }
        const auto next = static_cast<unsigned char>(text[at + length]);
        if (next < low || next > high) {
            return {length, false};
        }
        low = 0x80;
        high = 0xBF;
    }
    return {trailing + 1, true};
}

// Whether `byte` is ASCII that a JSON string holds as it is.
bool isPlain(unsigned char byte) {
    return byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\';
}

}  // namespace

void JsonText::value(std::int64_t number) {
    separate();
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, number);
    text_.append(digits, written.ptr);
}

void JsonText::value(std::string_view string) {
    static constexpr char kHex[] = "0123456789abcdef";
    separate();
    text_.push_back('"');
    for (std::size_t at = 0; at < string.size();) {
        std::size_t plain = at;  // ASCII that goes as it is, appended at once
        while (plain < string.size() && isPlain(static_cast<unsigned char>(string[plain]))) {
            ++plain;
        }
        text_.append(string.substr(at, plain - at));
        at = plain;
        if (at == string.size()) {
            break;
        }
        const Sequence sequence = sequenceAt(string, at);
        if (!sequence.valid) {
            text_.append("\xEF\xBF\xBD");
        } else if (sequence.length > 1) {
            text_.append(string.substr(at, sequence.length));
        } else {
            const char byte = string[at];
            switch (byte) {
                case '"':
                    text_.append("\\\"");
                    break;
                case '\\':
                    text_.append("\\\\");
                    break;
                case '\b':
                    text_.append("\\b");
                    break;
                case '\f':
                    text_.append("\\f");
                    break;
                case '\n':
                    text_.append("\\n");
                    break;
                case '\r':
                    text_.append("\\r");
                    break;
                case '\t':
                    text_.append("\\t");
                    break;
                default:
                    if (static_cast<unsigned char>(byte) < 0x20) {
                        text_.append("\\u00");
                        text_.push_back(kHex[(byte >> 4) & 0xF]);
                        text_.push_back(kHex[byte & 0xF]);
                    } else {
                        text_.push_back(byte);
                    }
            }
        }
        at += sequence.length;
    }
    text_.push_back('"');
}

}  // namespace game501
