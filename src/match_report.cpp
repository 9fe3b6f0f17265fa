#include "match_report.h"

#include <ctime>
#include <string_view>

#include "statistics.h"

namespace game501::match_report {

namespace {

// A text field as a spreadsheet must read it: never as a formula, and
// quoted when it holds what separates fields or records.
std::string textField(std::string_view text) {
    std::string field;
    if (!text.empty() &&
        std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
        field += '\'';
    }
    field += text;
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        return field;
    }
    std::string quoted = "\"";
    for (const char c : field) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

}  // namespace

Game501::json legs(const std::vector<LegRecord>& legs, int player_count) {
    Game501::json entries = Game501::json::array();
    for (const LegRecord& leg : legs) {
        Game501::json players = Game501::json::array();
        for (int player = 0; player < player_count; ++player) {
            Game501::json visits = Game501::json::array();
            for (const VisitRecord& visit : leg.visits) {
                if (visit.player != player) {
                    continue;
                }
                Game501::json darts = Game501::json::array();
                int points = 0;
                for (const DartRecord& dart : visit.darts) {
                    darts.push_back(dart.notation);
                    points += dart.value;
                }
                visits.push_back({{"darts", std::move(darts)},
                                  {"outcome", outcomeName(visit.outcome)},
                                  {"points", visit.outcome == TurnOutcome::bust ? 0 : points},
                                  {"start_score", visit.start_score}});
            }
            players.push_back({{"figures", statistics::toJson(statistics::legCounts(leg, player))},
                               {"visits", std::move(visits)}});
        }
        entries.push_back({{"leg", leg.leg},
                           {"players", std::move(players)},
                           {"set", leg.set},
                           {"starter", leg.starter},
                           {"winner", leg.winner}});
    }
    return entries;
}

std::string dartsCsv(const std::string& match_id, const std::vector<LegRecord>& legs,
                     const std::vector<std::string>& players) {
    return dartsCsvHeader() + dartsCsvRows(match_id, legs, players);
}

std::string dartsCsvHeader() {
    return "match,set,leg,visit,player,dart,notation,points,remaining,bust,source,time\r\n";
}

std::string dartsCsvRows(const std::string& match_id, const std::vector<LegRecord>& legs,
                         const std::vector<std::string>& players) {
    std::string csv;
    for (const LegRecord& leg : legs) {
        int visit_number = 0;
        for (const VisitRecord& visit : leg.visits) {
            ++visit_number;
            const bool known =
                visit.player >= 0 && static_cast<std::size_t>(visit.player) < players.size();
            const std::string player =
                textField(known ? players[static_cast<std::size_t>(visit.player)] : "");
            int remaining = visit.start_score;
            int dart_number = 0;
            for (const DartRecord& dart : visit.darts) {
                csv += textField(match_id) + "," + std::to_string(leg.set) + "," +
                       std::to_string(leg.leg) + "," + std::to_string(visit_number) + "," + player +
                       "," + std::to_string(++dart_number) + "," + textField(dart.notation) + "," +
                       std::to_string(dart.value) + "," + std::to_string(remaining) + "," +
                       (dart.bust ? "true" : "false") + "," + textField(dart.source) + "," +
                       isoTime(dart.timestamp) + "\r\n";
                remaining -= dart.value;
            }
        }
    }
    return csv;
}

std::string isoTime(std::int64_t millis) {
    const std::int64_t seconds = millis >= 0 ? millis / 1000 : (millis - 999) / 1000;
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    const auto fraction = static_cast<int>(millis - seconds * 1000);
    char milliseconds[8];
    std::snprintf(milliseconds, sizeof milliseconds, ".%03dZ", fraction);
    return std::string(text, length) + milliseconds;
}

}  // namespace game501::match_report
