#include "parsing.h"

#include <algorithm>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/field.hpp>
#include <charconv>
#include <ctime>
#include <iterator>

#include "ascii.h"
#include "server_limits.h"

namespace game501::server {

namespace {

// Optional white space around a header's value and its parts.
std::string_view trimmed(std::string_view text) { return ascii::trimmed(text, " \t"); }

// A number as addresses print it: no leading zero.
std::optional<std::uint64_t> printedNumber(std::string_view text, std::size_t max_digits) {
    if (text.empty() || text.front() == '0') {
        return std::nullopt;
    }
    return decimal(text, max_digits);
}

// Reads the two hexadecimal digits at the start of `text`, or nothing.
std::optional<char> hexByte(std::string_view text) {
    unsigned value = 0;
    const char* const end = text.data() + std::min<std::size_t>(text.size(), 2);
    const std::from_chars_result read = std::from_chars(text.data(), end, value, 16);
    if (text.size() < 2 || read.ec != std::errc() || read.ptr != end) {
        return std::nullopt;
    }
    return static_cast<char>(value);
}

}  // namespace

std::optional<std::uint64_t> decimal(std::string_view text, std::size_t max_digits) {
    if (text.empty() || text.size() > max_digits ||
        !std::all_of(text.begin(), text.end(), ascii::isDigit)) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const char* const end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data(), end, value);
    if (read.ec != std::errc() || read.ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::size_t boardNumber(std::string_view text, std::size_t count) {
    const std::optional<std::uint64_t> number =
        printedNumber(text, std::to_string(kMaxBoards).size());
    return number && *number <= count ? static_cast<std::size_t>(*number) : 0;
}

std::string matchId(int board, std::uint64_t start_event) {
    return std::to_string(board) + "-" + std::to_string(start_event);
}

std::optional<std::pair<int, std::uint64_t>> parseMatchId(std::string_view id) {
    const std::size_t dash = id.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> board = printedNumber(id.substr(0, dash), kMaxMatchIdDigits);
    const std::optional<std::uint64_t> event =
        printedNumber(id.substr(dash + 1), kMaxMatchIdDigits);
    if (!board || !event || *board > static_cast<std::uint64_t>(kMaxBoards)) {
        return std::nullopt;
    }
    return std::make_pair(static_cast<int>(*board), *event);
}

std::optional<std::string> percentDecoded(std::string_view text, bool plus_is_space) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            const std::optional<char> byte = hexByte(text.substr(i + 1));
            if (!byte) {
                return std::nullopt;
            }
            decoded += *byte;
            i += 2;
        } else {
            decoded += plus_is_space && text[i] == '+' ? ' ' : text[i];
        }
    }
    return decoded;
}

std::optional<std::string> queryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query.remove_prefix(amp == std::string_view::npos ? query.size() : amp + 1);
        const std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name) {
            return percentDecoded(equals == std::string_view::npos ? "" : pair.substr(equals + 1),
                                  true);
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> dayStart(std::string_view date, int days_after) {
    constexpr std::string_view kForm = "dddd-dd-dd";
    const bool formed = date.size() == kForm.size() &&
                        std::equal(date.begin(), date.end(), kForm.begin(), [](char c, char form) {
                            return form == 'd' ? ascii::isDigit(c) : c == form;
                        });
    if (!formed) {
        return std::nullopt;
    }
    const auto field = [date](std::size_t at, std::size_t digits) {
        return static_cast<int>(*decimal(date.substr(at, digits), digits));
    };
    std::tm day{};
    day.tm_year = field(0, 4) - 1900;
    day.tm_mon = field(5, 2) - 1;
    day.tm_mday = field(8, 2);
    day.tm_isdst = -1;
    std::tm check = day;
    // mktime moves a day past the month's end into the next month.
    if (std::mktime(&check) == -1 || check.tm_mday != day.tm_mday || check.tm_mon != day.tm_mon) {
        return std::nullopt;
    }
    day.tm_mday += days_after;
    const std::time_t start = std::mktime(&day);
    if (start == -1) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(start) * 1000;
}

std::string_view queryOf(std::string_view target) {
    const std::size_t question = target.find('?');
    return question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
}

bool isJson(const Request& request) {
    const std::string_view type = request[http::field::content_type];
    return boost::beast::iequals(trimmed(type.substr(0, type.find(';'))), "application/json");
}

std::optional<std::string_view> bearerToken(const Request& request) {
    const std::string_view value = trimmed(request[http::field::authorization]);
    const std::string_view scheme = "Bearer ";
    if (value.size() <= scheme.size() ||
        !boost::beast::iequals(value.substr(0, scheme.size()), scheme)) {
        return std::nullopt;
    }
    return trimmed(value.substr(scheme.size()));
}

std::optional<std::string> idempotencyKey(const Request& request) {
    const auto [first, last] = request.equal_range("Idempotency-Key");
    if (first == last) {
        return std::nullopt;
    }
    const std::string_view key = trimmed(first->value());
    const bool visible =
        std::all_of(key.begin(), key.end(), [](char c) { return c > ' ' && c < 0x7F; });
    if (std::next(first) != last || key.empty() || key.size() > kMaxIdempotencyKeyBytes ||
        !visible) {
        return std::string();
    }
    return std::string(key);
}

std::optional<Precondition> precondition(const Request& request) {
    const auto [first, last] = request.equal_range(http::field::if_match);
    if (first == last) {
        return std::nullopt;
    }
    Precondition condition;
    for (auto field = first; field != last; ++field) {
        std::string_view list = field->value();
        while (!list.empty()) {
            const std::size_t comma = list.find(',');
            const std::string_view tag = trimmed(list.substr(0, comma));
            list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
            if (tag == "*") {
                condition.any = true;
            } else if (tag.size() >= 2 && tag.front() == '"' && tag.back() == '"') {
                if (const std::optional<std::uint64_t> event_id =
                        decimal(tag.substr(1, tag.size() - 2), kMaxEntityTagDigits)) {
                    condition.event_ids.push_back(*event_id);
                }
            }
        }
    }
    return condition;
}

bool listsTag(std::string_view list, std::string_view tag) {
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        std::string_view listed = trimmed(list.substr(0, comma));
        list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
        if (listed.substr(0, 2) == "W/") {
            listed.remove_prefix(2);
        }
        if (listed == "*" || (!listed.empty() && listed == tag)) {
            return true;
        }
    }
    return false;
}

std::string entityTag(std::uint64_t event_id) { return "\"" + std::to_string(event_id) + "\""; }

}  // namespace game501::server
