#include "reports.h"

#include <boost/beast/http/field.hpp>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "accuracy.h"
#include "beds.h"
#include "live_record.h"
#include "match_follower.h"
#include "match_report.h"
#include "parsing.h"
#include "replay.h"
#include "server_limits.h"
#include "statistics.h"
#include "win_chances.h"

namespace game501::server {

namespace {

using json = Game501::json;

json orNull(const std::optional<double>& value) { return value ? json(*value) : json(nullptr); }

// A player's result in a match, for programs.
std::string result(const archive::MatchEntry& match, int position) {
    if (match.status == "finished") {
        return match.winner == position ? "won" : "lost";
    }
    return match.status;
}

json matchSummary(const archive::MatchEntry& match) {
    json legs_won = json::array();
    for (const statistics::Counts& counts : match.counts) {
        legs_won.push_back(counts.legs_won);
    }
    return {{"board", match.board},
            {"counts", archive::counts(match)},
            {"date", match_report::isoTime(match.started)},
            {"format", {{"legs", match.legs}, {"sets", match.sets}}},
            {"id", matchId(match.board, match.start_event)},
            {"legs_won", std::move(legs_won)},
            {"players", match.players},
            {"status", match.status},
            {"void", match.voided},
            {"winner", match.winner}};
}

Response csvResponse(std::string body, const std::string& name, unsigned version) {
    Response response{http::status::ok, version};
    response.set(http::field::content_type, "text/csv; charset=utf-8; header=present");
    response.set(http::field::content_disposition, "attachment; filename=\"" + name + "\"");
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    response.body() = std::move(body);
    return response;
}

// Reads the days of a query into `filter`: from=DATE and to=DATE, both
// included; to is from's day when left out. Returns false for a query it
// cannot read: a date that is none, to before from, more than kMaxCsvDays
// days (`bounded`), or no from when `required`.
bool readDays(std::string_view query, bool required, bool bounded, MatchFilter& filter) {
    const std::optional<std::string> from = queryValue(query, "from");
    const std::optional<std::string> to = queryValue(query, "to");
    if (!from) {
        return !required && !to;
    }
    const std::optional<std::int64_t> first = dayStart(*from);
    const std::optional<std::int64_t> end = dayStart(to.value_or(*from), 1);
    const std::optional<std::int64_t> limit = dayStart(*from, kMaxCsvDays);
    if (!first || !end || !limit || *end <= *first || (bounded && *end > *limit)) {
        return false;
    }
    filter.from = *first;
    filter.to = *end;
    return true;
}

// Returns the entity tag of a report: its text without the legs, and
// `legs`, which names the legs' version, hashed (FNV-1a, 64 bits).
std::string reportTag(const std::string& body, const std::string& legs) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const std::string* text : {&body, &legs}) {
        for (const char c : *text) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        }
        hash = (hash ^ 0xffU) * 1099511628211ULL;  // no byte of UTF-8 text: a separator
    }
    char text[24];
    std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(hash));
    return text;
}

// As many matches as a list can hold.
constexpr auto kAllMatches = static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max());

Response badDays(unsigned version) {
    return errorResponse(http::status::bad_request, "bad_query",
                         "from och to ska vara datum (ÅÅÅÅ-MM-DD), to inte före from, högst " +
                             std::to_string(kMaxCsvDays) + " dagar",
                         version);
}

// One match of a player's career: what it was, and the player's figures in it.
json careerRow(const Appearance& appearance) {
    const archive::MatchEntry& match = appearance.match;
    json opponents = json::array();
    for (std::size_t i = 0; i < match.players.size(); ++i) {
        if (static_cast<int>(i) != appearance.position) {
            opponents.push_back(match.players[i]);
        }
    }
    const statistics::Figures figures =
        statistics::figures(match.counts[static_cast<std::size_t>(appearance.position)]);
    return {{"board", match.board},
            {"checkout_percent", orNull(figures.checkout_percent)},
            {"checkout_text", figures.checkout_text},
            {"counts", archive::counts(match)},
            {"date", match_report::isoTime(match.started)},
            {"first_nine_average", orNull(figures.first_nine_average)},
            {"id", matchId(match.board, match.start_event)},
            {"opponents", std::move(opponents)},
            {"result", result(match, appearance.position)},
            {"three_dart_average", orNull(figures.three_dart_average)},
            {"void", match.voided}};
}

// The list of a player's page that a match of theirs goes in: "matches"
// when it counts, none when it is void.
const char* careerList(const archive::MatchEntry& match) {
    if (match.voided) {
        return nullptr;
    }
    if (archive::practice(match)) {
        return "practice";
    }
    if (archive::counts(match)) {
        return "matches";
    }
    // Being played, or one member on two seats (an older start, or a merge).
    return match.status == "abandoned" ? "abandoned" : "other";
}

// Returns a figure of accuracy as the documents give it: to 0.01.
double hundredths(double value) { return std::round(value * 100.0) / 100.0; }

// Returns a member's accuracy: {"sigma_mm", "low_mm", "high_mm", "darts",
// "best_aim", "points_per_dart", "points_per_dart_t20"}, null without an
// estimate.
json accuracyJson(const std::optional<accuracy::Estimate>& estimate) {
    if (!estimate) {
        return nullptr;
    }
    json document = {{"darts", estimate->darts},
                     {"high_mm", hundredths(estimate->high_mm)},
                     {"low_mm", hundredths(estimate->low_mm)},
                     {"sigma_mm", hundredths(estimate->sigma_mm)}};
    const std::optional<accuracy::ScoringAim> aim = accuracy::bestScoringAim(estimate->sigma_mm);
    document["best_aim"] = aim ? json(beds::bedNotation(aim->aim)) : json(nullptr);
    document["points_per_dart"] = aim ? json(hundredths(aim->points_per_dart)) : json(nullptr);
    document["points_per_dart_t20"] =
        aim ? json(hundredths(aim->points_per_dart_t20)) : json(nullptr);
    return document;
}

// Returns a member's accuracy month by month, oldest first: {"month",
// "darts", "sigma_mm", "low_mm", "high_mm"}, the last three null below the
// darts an estimate needs.
json accuracyHistoryJson(const std::vector<MonthAccuracy>& months) {
    json history = json::array();
    for (const MonthAccuracy& month : months) {
        const std::optional<accuracy::Estimate>& estimate = month.estimate;
        history.push_back(
            {{"darts", month.darts},
             {"high_mm", estimate ? json(hundredths(estimate->high_mm)) : json(nullptr)},
             {"low_mm", estimate ? json(hundredths(estimate->low_mm)) : json(nullptr)},
             {"month", month.month},
             {"sigma_mm", estimate ? json(hundredths(estimate->sigma_mm)) : json(nullptr)}});
    }
    return history;
}

}  // namespace

template <typename Answer>
Response Reports::read(unsigned version, const Answer& answer) const {
    try {
        return answer();
    } catch (const DamagedMatch&) {
        return errorResponse(http::status::internal_server_error, "damaged_match",
                             "En matchs siffror är skadade i journalen", version);
    } catch (const std::exception&) {
        return unavailable("storage_unavailable", "Journalen kan inte läsas just nu", version);
    }
}

LiveCounts Reports::live() const {
    LiveCounts live;
    for (const std::unique_ptr<Board>& board : boards_) {
        if (std::optional<LiveMatch> match = board->view().liveMatch()) {
            live.emplace(std::make_pair(board->number(), match->start_event),
                         std::move(match->counts));
        }
    }
    return live;
}

Response Reports::players(unsigned version) const {
    return read(version, [&] {
        json list = json::array();
        for (const Career& career : reader_.careers()) {
            list.push_back({{"figures", statistics::toJson(career.counts)},
                            {"matches", career.matches},
                            {"name", career.name},
                            {"sigma_mm", orNull(accuracies_.sigmaOf(career.name))}});
        }
        return jsonResponse(serialise({{"players", std::move(list)}}), version);
    });
}

Response Reports::player(const std::string& name, unsigned version) const {
    return read(version, [&] {
        const std::optional<Member> member = reader_.member(name);
        if (!member) {
            return errorResponse(http::status::not_found, "unknown_player", "Spelaren finns inte",
                                 version);
        }
        statistics::Counts career;
        json player = {{"abandoned", json::array()},
                       {"matches", json::array()},
                       {"name", member->name},
                       {"other", json::array()},
                       {"practice", json::array()}};
        std::string listed;  // the last match listed: one on two seats is listed once
        const std::vector<Appearance> appearances = reader_.appearances(member->id, live());
        const MemberAccuracy accuracy = accuracies_.of(*member, appearances);
        player["accuracy"] = accuracyJson(accuracy.estimate);
        player["accuracy_history"] = accuracyHistoryJson(accuracy.months);
        for (const Appearance& appearance : appearances) {
            const char* const list = careerList(appearance.match);
            const std::string id = matchId(appearance.match.board, appearance.match.start_event);
            if (list == nullptr || id == listed) {
                continue;
            }
            listed = id;
            if (archive::counts(appearance.match)) {
                career += appearance.match.counts[static_cast<std::size_t>(appearance.position)];
            }
            player[list].push_back(careerRow(appearance));
        }
        player["figures"] = statistics::toJson(career);
        return jsonResponse(serialise(player), version);
    });
}

Response Reports::matches(std::string_view query, unsigned version) const {
    const std::string player = queryValue(query, "player").value_or("");
    MatchFilter filter;
    const std::optional<std::uint64_t> page =
        decimal(queryValue(query, "page").value_or("1"), kMaxPageDigits);
    if (!page || *page == 0) {
        return errorResponse(http::status::bad_request, "bad_query",
                             "page ska vara ett heltal från 1", version);
    }
    if (!readDays(query, false, false, filter)) {
        return badDays(version);
    }
    return read(version, [&] {
        // A name the register does not know has no matches: no member is -1.
        if (!player.empty()) {
            const std::optional<Member> found = reader_.member(player);
            filter.player = found ? found->id : -1;
        }
        const std::vector<archive::MatchEntry> entries =
            reader_.matches(filter, (*page - 1) * kMatchesPerPage, kMatchesPerPage, live());
        const std::size_t count = reader_.matchCount(filter);
        json list = json::array();
        for (const archive::MatchEntry& entry : entries) {
            list.push_back(matchSummary(entry));
        }
        const auto pages =
            static_cast<std::int64_t>((count + kMatchesPerPage - 1) / kMatchesPerPage);
        return jsonResponse(serialise({{"matches", std::move(list)},
                                       {"page", static_cast<std::int64_t>(*page)},
                                       {"pages", pages}}),
                            version);
    });
}

Response Reports::daysCsv(std::string_view query, unsigned version) const {
    MatchFilter filter;
    if (!readDays(query, true, true, filter)) {
        return badDays(version);
    }
    return read(version, [&] {
        std::vector<archive::MatchEntry> entries = reader_.matches(filter, 0, kAllMatches, live());
        std::string csv = match_report::dartsCsvHeader();
        // A month of matches would push out the reports read most: what is
        // not kept is made, and let go of.
        for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
            csv += csvRows(*entry, sourceOf(*entry), false);
        }
        const std::string from = queryValue(query, "from").value_or("");
        return csvResponse(
            std::move(csv),
            "matches-" + from + "-" + queryValue(query, "to").value_or(from) + ".csv", version);
    });
}

Reports::Source Reports::sourceOf(const archive::MatchEntry& entry) const {
    Source source;
    if (entry.board < 1 || static_cast<std::size_t>(entry.board) > boards_.size()) {
        source.over = true;  // no board writes to it
        return source;
    }
    const Snapshot now = boards_[static_cast<std::size_t>(entry.board - 1)]->view().current();
    source.event_id = now.event_id;
    if (now.display->startEvent() == entry.start_event) {
        source.display = now.display;
    } else {
        // A later start or reset, durable, ended it: its rows are settled.
        source.over = entry.start_event <= now.event_id;
    }
    return source;
}

std::shared_ptr<const KeptReport> Reports::kept(const archive::MatchEntry& entry,
                                                const Source& source, bool keep) const {
    std::shared_ptr<const KeptReport> found =
        source.over ? kept_.find(entry.board, entry.start_event) : nullptr;
    // A rename since changes the names in the file of darts.
    if (found && found->players == entry.players) {
        return found;
    }
    // The darts themselves are in the journal: the match is played again.
    const std::vector<JournalRow> rows = reader_.matchRows(entry.board, entry.start_event);
    const Replay replay(rows);
    const std::vector<LegRecord>& legs = replay.match().legs();
    auto made = std::make_shared<KeptReport>();
    made->last_event = rows.empty() ? entry.start_event : rows.back().event_id;
    made->legs_json = legsJson(legs, static_cast<int>(entry.players.size()));
    // The chances with each person's accuracy as it is known when it is made.
    const std::vector<std::string> computers =
        rows.empty() ? std::vector<std::string>{} : rows.front().command.computers;
    made->win_chance_json = serialise(winChanceCourseJson(
        Match::Format{entry.legs, entry.sets}, legs,
        playerAccuracies(entry.players, computerLevels(computers), accuracies_)));
    made->players = entry.players;
    made->csv_rows =
        match_report::dartsCsvRows(matchId(entry.board, entry.start_event), legs, entry.players);
    if (source.over && keep) {
        kept_.keep(entry.board, entry.start_event, made);
    }
    return made;
}

std::string Reports::csvRows(const archive::MatchEntry& entry, const Source& source,
                             bool keep) const {
    if (source.display) {
        return match_report::dartsCsvRows(matchId(entry.board, entry.start_event),
                                          source.display->record().legs(), entry.players);
    }
    return kept(entry, source, keep)->csv_rows;
}

std::optional<archive::MatchEntry> Reports::entryOf(std::string_view id) const {
    const std::optional<std::pair<int, std::uint64_t>> key = parseMatchId(id);
    return key ? reader_.match(key->first, key->second, live()) : std::nullopt;
}

Response Reports::match(std::string_view id, std::string_view if_none_match,
                        unsigned version) const {
    return read(version, [&] {
        const std::optional<archive::MatchEntry> entry = entryOf(id);
        if (!entry) {
            return errorResponse(http::status::not_found, "not_found", "Matchen finns inte",
                                 version);
        }
        const Source source = sourceOf(*entry);
        json report = matchSummary(*entry);
        json players = json::array();
        for (std::size_t i = 0; i < entry->players.size(); ++i) {
            players.push_back(
                {{"figures", statistics::toJson(entry->counts[i])}, {"name", entry->players[i]}});
        }
        report["players"] = std::move(players);
        // Where every leg's chart begins, so that the page restates no rule.
        report["start_score"] = Game501::kStartScore;
        std::string body = serialise(report);
        // The legs change only with the board's events while it plays the
        // match, and never once it is over; the rest is in `body`.
        const std::optional<std::string> tag =
            source.display
                ? std::optional(reportTag(body, "live-" + std::to_string(source.event_id)))
            : source.over ? std::optional(reportTag(body, "over"))
                          : std::nullopt;
        if (tag && listsTag(if_none_match, *tag)) {
            return notModified(*tag, version);
        }
        std::string legs;
        std::string win_chance;
        if (source.display) {
            const Display& display = *source.display;
            legs = display.record().legsJson(static_cast<int>(entry->players.size()));
            win_chance =
                serialise(winChanceCourseJson(Match::Format{entry->legs, entry->sets},
                                              display.record().legs(), display.facts().accuracies));
        } else {
            const std::shared_ptr<const KeptReport> made = kept(*entry, source, true);
            legs = made->legs_json;
            win_chance = made->win_chance_json;
        }
        body.pop_back();
        body += ",\"legs\":" + legs + ",\"win_chance\":" + win_chance + "}";
        Response response = jsonResponse(std::move(body), version);
        if (tag) {
            response.set(http::field::etag, *tag);
        }
        return response;
    });
}

Response Reports::dartsCsv(std::string_view id, unsigned version) const {
    return read(version, [&] {
        const std::optional<archive::MatchEntry> entry = entryOf(id);
        if (!entry) {
            return errorResponse(http::status::not_found, "not_found", "Matchen finns inte",
                                 version);
        }
        return csvResponse(match_report::dartsCsvHeader() + csvRows(*entry, sourceOf(*entry), true),
                           "match-" + std::string(id) + ".csv", version);
    });
}

}  // namespace game501::server
