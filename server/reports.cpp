#include "reports.h"

#include <boost/beast/http/field.hpp>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive.h"
#include "board.h"
#include "match_report.h"
#include "server_limits.h"
#include "statistics.h"

namespace game501::server {

namespace {

using json = Game501::json;

const std::string_view kPlayersPath = "/api/players";
const std::string_view kMatchesPath = "/api/matches";
const std::string_view kCsvSuffix = "/darts.csv";

// Decodes %XX escapes (and '+' as a space in a query); nothing for a broken
// escape.
std::optional<std::string> percentDecoded(std::string_view text, bool plus_is_space) {
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            const int high = i + 2 < text.size() ? digit(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? digit(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += plus_is_space && text[i] == '+' ? ' ' : text[i];
        }
    }
    return decoded;
}

// Returns the decoded value of `name` in a query ("a=1&b=2"), or nothing.
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

// A player's result in a match, for programs.
std::string result(const archive::MatchEntry& match, int position) {
    if (match.status == "finished") {
        return match.winner == position ? "won" : "lost";
    }
    return match.status;
}

json matchSummary(const archive::MatchEntry& match) {
    return {{"board", match.board},
            {"date", match_report::isoTime(match.started)},
            {"format", {{"legs", match.legs}, {"sets", match.sets}}},
            {"id", archive::matchId(match.board, match.start_event)},
            {"players", match.players},
            {"status", match.status},
            {"winner", match.winner}};
}

Response unavailable(unsigned version) {
    Response response = errorResponse(http::status::service_unavailable, "storage_unavailable",
                                      "Journalen kan inte läsas just nu", version);
    response.set(http::field::retry_after, "1");
    return response;
}

}  // namespace

std::optional<Response> Reports::answer(const Request& request, std::string_view path) const {
    const unsigned version = request.version();
    const std::string_view target = request.target();
    const std::size_t question = target.find('?');
    const std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    try {
        if (path == kPlayersPath) {
            return players(version);
        }
        if (path == kMatchesPath) {
            return matches(query, version);
        }
        const std::string players_prefix = std::string(kPlayersPath) + "/";
        const std::string matches_prefix = std::string(kMatchesPath) + "/";
        if (path.substr(0, players_prefix.size()) == players_prefix) {
            const std::optional<std::string> name =
                percentDecoded(path.substr(players_prefix.size()), false);
            return name ? player(*name, version) : notFound(version);
        }
        if (path.substr(0, matches_prefix.size()) == matches_prefix) {
            std::string_view id = path.substr(matches_prefix.size());
            const bool csv = id.size() > kCsvSuffix.size() &&
                             id.substr(id.size() - kCsvSuffix.size()) == kCsvSuffix;
            if (csv) {
                id.remove_suffix(kCsvSuffix.size());
            }
            return match(std::string(id), csv, version);
        }
    } catch (const std::exception&) {
        return unavailable(version);
    }
    return std::nullopt;
}

archive::Live Reports::live() const {
    archive::Live live;
    for (const std::unique_ptr<Board>& board : boards_) {
        if (auto match = board->liveMatch()) {
            live.emplace(std::make_pair(board->number(), match->first), std::move(match->second));
        }
    }
    return live;
}

Response Reports::players(unsigned version) const {
    const archive::Live playing = live();
    const std::vector<archive::Career> careers = journal_.read(
        [&playing](SQLite::Database& database) { return archive::careers(database, playing); });
    json list = json::array();
    for (const archive::Career& career : careers) {
        list.push_back({{"figures", statistics::toJson(career.counts)},
                        {"matches", career.matches},
                        {"name", career.name}});
    }
    return jsonResponse(serialise({{"players", std::move(list)}}), version);
}

Response Reports::player(const std::string& name, unsigned version) const {
    const archive::Live playing = live();
    std::vector<archive::Appearance> appearances = journal_.read(
        [&name](SQLite::Database& database) { return archive::appearances(database, name); });
    for (archive::Appearance& appearance : appearances) {
        std::vector<archive::MatchEntry> one{std::move(appearance.match)};
        archive::overlay(one, playing);
        appearance.match = std::move(one.front());
    }
    if (appearances.empty()) {
        return errorResponse(http::status::not_found, "not_found", "Spelaren finns inte", version);
    }
    statistics::Counts career;
    json rows = json::array();
    for (const archive::Appearance& appearance : appearances) {
        const archive::MatchEntry& match = appearance.match;
        const statistics::Counts& counts =
            match.counts[static_cast<std::size_t>(appearance.position)];
        career += counts;
        json opponents = json::array();
        for (std::size_t i = 0; i < match.players.size(); ++i) {
            if (static_cast<int>(i) != appearance.position) {
                opponents.push_back(match.players[i]);
            }
        }
        const json figures = statistics::toJson(counts);
        rows.push_back({{"board", match.board},
                        {"checkout_percent", figures["checkout_percent"]},
                        {"checkout_text", figures["checkout_text"]},
                        {"date", match_report::isoTime(match.started)},
                        {"first_nine_average", figures["first_nine_average"]},
                        {"id", archive::matchId(match.board, match.start_event)},
                        {"opponents", std::move(opponents)},
                        {"result", result(match, appearance.position)},
                        {"three_dart_average", figures["three_dart_average"]}});
    }
    return jsonResponse(serialise({{"figures", statistics::toJson(career)},
                                   {"matches", std::move(rows)},
                                   {"name", name}}),
                        version);
}

Response Reports::matches(std::string_view query, unsigned version) const {
    const std::string player = queryValue(query, "player").value_or("");
    const std::string page_text = queryValue(query, "page").value_or("1");
    const bool digits = !page_text.empty() && page_text.size() <= 6 &&
                        page_text.find_first_not_of("0123456789") == std::string::npos;
    const std::size_t page = digits ? std::stoul(page_text) : 0;
    if (page == 0) {
        return errorResponse(http::status::bad_request, "bad_query",
                             "page ska vara ett heltal från 1", version);
    }
    auto [entries, count] = journal_.read([&](SQLite::Database& database) {
        return std::make_pair(
            archive::matches(database, player, (page - 1) * kMatchesPerPage, kMatchesPerPage),
            archive::matchCount(database, player));
    });
    archive::overlay(entries, live());
    json list = json::array();
    for (const archive::MatchEntry& entry : entries) {
        list.push_back(matchSummary(entry));
    }
    const auto pages = static_cast<std::int64_t>((count + kMatchesPerPage - 1) / kMatchesPerPage);
    return jsonResponse(serialise({{"matches", std::move(list)},
                                   {"page", static_cast<std::int64_t>(page)},
                                   {"pages", pages}}),
                        version);
}

Response Reports::match(const std::string& id, bool csv, unsigned version) const {
    const std::optional<std::pair<int, std::uint64_t>> key = archive::parseMatchId(id);
    std::optional<archive::MatchEntry> entry;
    if (key) {
        entry = journal_.read([&key](SQLite::Database& database) {
            return archive::find(database, key->first, key->second);
        });
    }
    if (!entry) {
        return errorResponse(http::status::not_found, "not_found", "Matchen finns inte", version);
    }
    std::vector<archive::MatchEntry> one{std::move(*entry)};
    archive::overlay(one, live());
    entry = std::move(one.front());
    // The darts themselves are in the journal: the match is played again.
    const Replay replay(journal_.matchRows(entry->board, entry->start_event));
    const std::vector<LegRecord> legs = replay.match().legs();
    if (csv) {
        Response response{http::status::ok, version};
        response.set(http::field::content_type, "text/csv; charset=utf-8; header=present");
        response.set(http::field::content_disposition,
                     "attachment; filename=\"match-" + id + ".csv\"");
        response.set(http::field::cache_control, "no-store");
        response.set("X-Content-Type-Options", "nosniff");
        response.body() = match_report::dartsCsv(id, legs, entry->players);
        return response;
    }
    json report = matchSummary(*entry);
    json players = json::array();
    for (std::size_t i = 0; i < entry->players.size(); ++i) {
        players.push_back(
            {{"figures", statistics::toJson(entry->counts[i])}, {"name", entry->players[i]}});
    }
    report["players"] = std::move(players);
    report["legs"] = match_report::legs(legs, static_cast<int>(entry->players.size()));
    return jsonResponse(serialise(report), version);
}

}  // namespace game501::server
