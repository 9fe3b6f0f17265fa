// The names of a competition's enumerations and the stable form of its
// settings and events.
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "competition.h"

namespace game501::competition {
namespace {

using json = nlohmann::json;

constexpr std::array<std::pair<Format, std::string_view>, 3> kFormats = {{
    {Format::RoundRobin, "round_robin"},
    {Format::Knockout, "knockout"},
    {Format::GroupsKnockout, "groups_knockout"},
}};
constexpr std::array<std::pair<Tiebreaker, std::string_view>, 5> kTiebreakers = {{
    {Tiebreaker::Points, "points"},
    {Tiebreaker::LegDifference, "leg_difference"},
    {Tiebreaker::LegsWon, "legs_won"},
    {Tiebreaker::HeadToHead, "head_to_head"},
    {Tiebreaker::Average, "average"},
}};
constexpr std::array<std::pair<Event::Kind, std::string_view>, 4> kEventKinds = {{
    {Event::Kind::OpenRounds, "open_rounds"},
    {Event::Kind::Begin, "begin"},
    {Event::Kind::Requeue, "requeue"},
    {Event::Kind::Record, "record"},
}};
// Counts' members as statistics::toJson names them; the last two are null
// for none.
constexpr std::array<std::pair<std::int64_t statistics::Counts::*, const char*>, 13> kCounts = {{
    {&statistics::Counts::darts, "darts"},
    {&statistics::Counts::points, "points"},
    {&statistics::Counts::first_nine_darts, "first_nine_darts"},
    {&statistics::Counts::first_nine_points, "first_nine_points"},
    {&statistics::Counts::double_darts, "double_darts"},
    {&statistics::Counts::legs_played, "legs_played"},
    {&statistics::Counts::legs_won, "legs_won"},
    {&statistics::Counts::legs_won_against_throw, "legs_won_against_throw"},
    {&statistics::Counts::visits_100, "visits_100"},
    {&statistics::Counts::visits_140, "visits_140"},
    {&statistics::Counts::visits_180, "visits_180"},
    {&statistics::Counts::highest_finish, "highest_finish"},
    {&statistics::Counts::best_leg, "best_leg"},
}};

template <typename Value, std::size_t Size>
std::string_view nameIn(const std::array<std::pair<Value, std::string_view>, Size>& names,
                        Value value) {
    for (const auto& [known, text] : names) {
        if (known == value) {
            return text;
        }
    }
    return "";
}

template <typename Value, std::size_t Size>
std::optional<Value> valueIn(const std::array<std::pair<Value, std::string_view>, Size>& names,
                             std::string_view text) {
    for (const auto& [value, known] : names) {
        if (known == text) {
            return value;
        }
    }
    return std::nullopt;
}

json formatJson(const Match501::Format& format) {
    return {{"legs", format.legs}, {"sets", format.sets}};
}

json resultJson(const Result& result) {
    json counts = nullptr;
    if (!result.counts.empty()) {
        counts = json::array();
        for (const statistics::Counts& player : result.counts) {
            counts.push_back(statistics::toJson(player));
        }
    }
    return {{"winner", result.winner},
            {"legs", result.legs},
            {"sets", result.sets},
            {"walkover", result.walkover},
            {"archive_match",
             result.archive_match.empty() ? json(nullptr) : json(result.archive_match)},
            {"counts", counts}};
}

// Reads the members of a stable document; the first fault it meets is its
// problem, and every read after it fails.
class Reader {
public:
    explicit Reader(std::string& problem) : problem_(problem) { problem_.clear(); }

    bool ok() const { return problem_.empty(); }

    // Returns the member `key` of `object` when it has the type `is`.
    const json* member(const json& object, const char* key, bool (json::*is)() const noexcept,
                       const char* what) {
        if (!ok()) {
            return nullptr;
        }
        if (!object.is_object()) {
            fail("not an object where " + std::string(key) + " was expected");
            return nullptr;
        }
        const auto found = object.find(key);
        if (found == object.end() || !((*found).*is)()) {
            fail(std::string(key) + " is not " + what);
            return nullptr;
        }
        return &*found;
    }

    template <typename Integer>
    void integer(const json& value, const char* key, Integer& out,
                 std::int64_t least = std::numeric_limits<int>::min(),
                 std::int64_t most = std::numeric_limits<int>::max()) {
        if (!ok()) {
            return;
        }
        if (!value.is_number_integer() ||
            (value.is_number_unsigned() &&
             value.get<std::uint64_t>() > static_cast<std::uint64_t>(most)) ||
            (!value.is_number_unsigned() &&
             (value.get<std::int64_t>() < least || value.get<std::int64_t>() > most))) {
            fail(std::string(key) + " is not an integer in range");
            return;
        }
        out = value.get<Integer>();
    }

    template <typename Integer>
    void integerMember(const json& object, const char* key, Integer& out) {
        if (const json* value = member(object, key, &json::is_number_integer, "an integer")) {
            integer(*value, key, out);
        }
    }

    void boolean(const json& object, const char* key, bool& out) {
        if (const json* value = member(object, key, &json::is_boolean, "a boolean")) {
            out = value->get<bool>();
        }
    }

    void format(const json& object, const char* key, Match501::Format& out) {
        if (const json* value = member(object, key, &json::is_object, "an object")) {
            integerMember(*value, "legs", out.legs);
            integerMember(*value, "sets", out.sets);
        }
    }

    void pair(const json& object, const char* key, std::array<int, 2>& out) {
        const json* value = member(object, key, &json::is_array, "an array");
        if (value != nullptr && value->size() != 2) {
            fail(std::string(key) + " is not two numbers");
        }
        for (std::size_t i = 0; ok() && i < 2; ++i) {
            integer((*value)[i], key, out[i]);
        }
    }

    void counts(const json& object, statistics::Counts& out) {
        for (const auto& [field, key] : kCounts) {
            const auto found = object.find(key);
            const bool none = found != object.end() && found->is_null() &&
                              (field == &statistics::Counts::highest_finish ||
                               field == &statistics::Counts::best_leg);
            if (none) {
                out.*field = 0;
            } else if (const json* value =
                           member(object, key, &json::is_number_integer, "an integer")) {
                integer(*value, key, out.*field, std::numeric_limits<std::int64_t>::min(),
                        std::numeric_limits<std::int64_t>::max());
            }
        }
    }

    void result(const json& object, Result& out) {
        integerMember(object, "winner", out.winner);
        pair(object, "legs", out.legs);
        pair(object, "sets", out.sets);
        boolean(object, "walkover", out.walkover);
        const auto archive = object.find("archive_match");
        if (archive != object.end() && archive->is_null()) {
            out.archive_match.clear();
        } else if (const json* value =
                       member(object, "archive_match", &json::is_string, "a string or null")) {
            out.archive_match = value->get<std::string>();
        }
        const auto counts_found = object.find("counts");
        out.counts.clear();
        if (counts_found != object.end() && counts_found->is_null()) {
            return;
        }
        if (const json* value = member(object, "counts", &json::is_array, "an array or null")) {
            out.counts.resize(value->size());
            for (std::size_t side = 0; ok() && side < value->size(); ++side) {
                counts((*value)[side], out.counts[side]);
            }
        }
    }

    void fail(std::string text) {
        if (ok()) {
            problem_ = std::move(text);
        }
    }

private:
    std::string& problem_;
};

}  // namespace

std::string_view name(Format format) { return nameIn(kFormats, format); }

std::string_view name(Stage stage) { return stage == Stage::Group ? "group" : "knockout"; }

std::string_view name(Status status) {
    switch (status) {
        case Status::Waiting:
            return "waiting";
        case Status::Playing:
            return "playing";
        case Status::Finished:
            return "finished";
        case Status::Walkover:
            return "walkover";
    }
    return "";
}

std::string_view name(Tiebreaker tiebreaker) { return nameIn(kTiebreakers, tiebreaker); }

std::optional<Format> parseFormat(std::string_view text) { return valueIn(kFormats, text); }

std::optional<Tiebreaker> parseTiebreaker(std::string_view text) {
    return valueIn(kTiebreakers, text);
}

json toJson(const Settings& settings) {
    json tiebreakers = json::array();
    for (const Tiebreaker tiebreaker : settings.tiebreakers) {
        tiebreakers.push_back(name(tiebreaker));
    }
    return {
        {"players", settings.players},
        {"format", name(settings.format)},
        {"groups", settings.groups},
        {"advance", settings.advance},
        {"league", settings.league},
        {"group_match", formatJson(settings.group_match)},
        {"knockout_match", formatJson(settings.knockout_match)},
        {"final_match", settings.final_match ? formatJson(*settings.final_match) : json(nullptr)},
        {"points",
         {{"win", settings.points.win},
          {"loss", settings.points.loss},
          {"leg", settings.points.leg}}},
        {"tiebreakers", tiebreakers},
        {"seeded", settings.seeded},
        {"seed", settings.seed}};
}

json toJson(const Event& event) {
    json document = {{"kind", nameIn(kEventKinds, event.kind)}};
    switch (event.kind) {
        case Event::Kind::OpenRounds:
            document["rounds"] = event.rounds;
            break;
        case Event::Kind::Begin:
            document["match"] = event.match;
            document["board"] = event.board;
            break;
        case Event::Kind::Requeue:
            document["match"] = event.match;
            break;
        case Event::Kind::Record:
            document["match"] = event.match;
            document["result"] = resultJson(event.result);
            break;
    }
    return document;
}

std::optional<Settings> settingsFromJson(const json& document, std::string& problem) {
    Reader reader(problem);
    Settings settings;
    if (const json* players = reader.member(document, "players", &json::is_array, "an array")) {
        settings.players.clear();
        for (const json& player : *players) {
            if (!player.is_string()) {
                reader.fail("players holds a value that is not a string");
                break;
            }
            settings.players.push_back(player.get<std::string>());
        }
    }
    if (const json* format = reader.member(document, "format", &json::is_string, "a string")) {
        const std::optional<Format> known = parseFormat(format->get<std::string>());
        if (!known) {
            reader.fail("format is not a known format");
        }
        settings.format = known.value_or(Format::RoundRobin);
    }
    reader.integerMember(document, "groups", settings.groups);
    reader.integerMember(document, "advance", settings.advance);
    reader.boolean(document, "league", settings.league);
    reader.format(document, "group_match", settings.group_match);
    reader.format(document, "knockout_match", settings.knockout_match);
    const auto final_match = document.is_object() ? document.find("final_match") : document.end();
    if (final_match != document.end() && final_match->is_null()) {
        settings.final_match.reset();
    } else {
        reader.format(document, "final_match", settings.final_match.emplace());
    }
    if (const json* points = reader.member(document, "points", &json::is_object, "an object")) {
        reader.integerMember(*points, "win", settings.points.win);
        reader.integerMember(*points, "loss", settings.points.loss);
        reader.integerMember(*points, "leg", settings.points.leg);
    }
    if (const json* tiebreakers =
            reader.member(document, "tiebreakers", &json::is_array, "an array")) {
        settings.tiebreakers.clear();
        for (const json& tiebreaker : *tiebreakers) {
            const std::optional<Tiebreaker> known =
                tiebreaker.is_string() ? parseTiebreaker(tiebreaker.get<std::string>())
                                       : std::nullopt;
            if (!known) {
                reader.fail("tiebreakers holds an unknown tiebreaker");
                break;
            }
            settings.tiebreakers.push_back(*known);
        }
    }
    reader.boolean(document, "seeded", settings.seeded);
    if (const json* seed =
            reader.member(document, "seed", &json::is_number_integer, "an integer")) {
        if (!seed->is_number_unsigned() && seed->get<std::int64_t>() < 0) {
            reader.fail("seed is negative");
        }
        settings.seed = seed->get<std::uint64_t>();
    }
    return reader.ok() ? std::optional<Settings>(settings) : std::nullopt;
}

std::optional<Event> eventFromJson(const json& document, std::string& problem) {
    Reader reader(problem);
    Event event;
    if (const json* kind = reader.member(document, "kind", &json::is_string, "a string")) {
        const std::optional<Event::Kind> known = valueIn(kEventKinds, kind->get<std::string>());
        if (!known) {
            reader.fail("kind is not a known event");
        }
        event.kind = known.value_or(Event::Kind::Record);
    }
    if (!reader.ok()) {
        return std::nullopt;
    }
    if (event.kind == Event::Kind::OpenRounds) {
        if (const json* rounds = reader.member(document, "rounds", &json::is_array, "an array")) {
            for (const json& round : *rounds) {
                reader.integer(round, "rounds", event.rounds.emplace_back());
            }
        }
    } else {
        reader.integerMember(document, "match", event.match);
    }
    if (event.kind == Event::Kind::Begin) {
        reader.integerMember(document, "board", event.board);
    }
    if (event.kind == Event::Kind::Record) {
        if (const json* result = reader.member(document, "result", &json::is_object, "an object")) {
            reader.result(*result, event.result);
        }
    }
    return reader.ok() ? std::optional<Event>(event) : std::nullopt;
}

}  // namespace game501::competition
