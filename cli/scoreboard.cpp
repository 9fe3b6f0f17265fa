#include "scoreboard.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "front_end.h"
#include "utf8.h"

namespace game501::cli {

namespace {

const char* const kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// C0 controls, DEL and the C1 controls: each could steer a terminal.
bool isControl(std::uint32_t code_point) {
    return code_point < 0x20 || (code_point >= 0x7F && code_point < 0xA0);
}

// Characters as a terminal counts them, for aligning columns; only for text
// that displayText has made valid.
std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(utf8::unchecked::distance(text.begin(), text.end()));
}

std::string rightAligned(const std::string& text, std::size_t width) {
    const std::size_t shown = displayWidth(text);
    return shown >= width ? text : std::string(width - shown, ' ') + text;
}

}  // namespace

std::string displayText(const std::string& text) {
    const std::string valid = utf8::replace_invalid(text);
    std::string shown;
    shown.reserve(valid.size());
    for (auto at = valid.begin(); at != valid.end();) {
        const auto character = at;
        if (isControl(utf8::unchecked::next(at))) {
            shown += kReplacement;
        } else {
            shown.append(character, at);
        }
    }
    return shown;
}

namespace {

// What a match adds to a leg's scoreboard: a heading, a tag after each
// player's name and a note after each player's score, both in the leg's
// throwing order, and the line shown instead of the single game's when the
// leg is over.
struct MatchLines {
    std::string heading;
    std::vector<std::string> tags;
    std::vector<std::string> notes;
    std::string finished;
};

// The visit just thrown, newest first in `history`, with its total: "Förra
// turen, Ymma: T20 T20 T20 (180)"; a bust scores nothing, "(0, bust)".
std::string visitLine(const Game501::json& history) {
    if (history.empty()) {
        return "";
    }
    const Game501::json& visit = history.front();
    std::string line = "Förra turen, " + displayText(visit.at("player").get<std::string>()) + ":";
    for (const Game501::json& dart : visit.at("darts")) {
        line += " " + displayText(dart.at("notation").get<std::string>());
    }
    const bool bust = visit.at("outcome") == "bust";
    const int points = visit.at("start_score").get<int>() - visit.at("end_score").get<int>();
    return line + " (" + (bust ? "0, bust" : std::to_string(points)) + ")\n";
}

std::string legBoard(const Game501::json& state, const SkillLevel* level, const MatchLines& match) {
    const std::string status = state.at("status").get<std::string>();
    if (status == "idle") {
        return "Inget spel pågår. Skriv \"start NAMN, NAMN\" för att börja.\n";
    }

    std::string board = match.heading;
    board += "Runda " + std::to_string(state.at("round").get<int>()) + "\n";
    const Game501::json& players = state.at("players");
    std::vector<std::string> names;
    std::size_t name_width = 0;
    for (const Game501::json& player : players) {
        const std::size_t position = names.size();
        names.push_back(displayText(player.at("name").get<std::string>()) +
                        (position < match.tags.size() ? match.tags[position] : ""));
        name_width = std::max(name_width, displayWidth(names.back()));
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Game501::json& player = players[i];
        const bool winner = player.at("winner").get<bool>();
        const char* const mark = winner ? "*" : player.at("active").get<bool>() ? ">" : " ";
        const std::string padded = names[i] + std::string(name_width - displayWidth(names[i]), ' ');
        board += std::string("  ") + mark + " " + padded + "  " +
                 rightAligned(std::to_string(player.at("score").get<int>()), 3) +
                 (i < match.notes.size() ? match.notes[i] : "") + (winner ? "  vinnare" : "") +
                 "\n";
    }

    const Game501::json& turn = state.at("current_turn");
    const Game501::json& darts = turn.at("darts");
    if (!darts.empty()) {
        board += "Kast:";
        for (const Game501::json& dart : darts) {
            board += " " + displayText(dart.at("notation").get<std::string>());
        }
        board += " (" + std::to_string(turn.at("total").get<int>()) + ")\n";
    }

    if (status == "finished") {
        board += match.finished.empty()
                     ? "Spelet är slut. Skriv \"start NAMN, NAMN\" för ett nytt spel.\n"
                     : match.finished;
        return board;
    }
    if (state.at("awaiting_clear").get<bool>()) {
        board += visitLine(state.at("history"));
        board += "Ta bort pilarna och skriv \"clear\" när tavlan är tom.\n";
    }
    const Game501::json checkout = front_end::checkoutFor(state);
    std::vector<std::string> route = checkout.at("route");
    std::optional<double> chance;
    if (level != nullptr) {
        for (const Game501::json& advice : checkout.at("advice")) {
            if (advice.at("level") == level->id) {
                route = advice.at("route");
                chance = advice.at("probability").get<double>();
            }
        }
    }
    if (const std::string line = front_end::checkoutText(route, chance); !line.empty()) {
        board += line + "\n";
    }
    return board;
}

std::string countText(int count, int most) {
    return rightAligned(std::to_string(count), std::to_string(most).size());
}

}  // namespace

std::string scoreboard(const Game501::json& state, const SkillLevel* level) {
    return legBoard(state, level, MatchLines{});
}

std::string matchScoreboard(const Game501::json& match, const SkillLevel* level,
                            const std::vector<std::string>& tags) {
    const Game501::json& format = match.at("format");
    const int legs = format.at("legs").get<int>();
    const int sets = format.at("sets").get<int>();
    const Game501::json& game = match.at("game");
    if (match.at("status") == "idle") {
        return scoreboard(game, level);
    }
    MatchLines lines;
    const Game501::json& order = match.at("throwing_order");
    for (const Game501::json& player : order) {
        const auto index = player.get<std::size_t>();
        lines.tags.push_back(index < tags.size() ? tags[index] : "");
    }
    // A match of one leg is a single game and reads as one.
    if (legs == 1 && sets == 1) {
        return legBoard(game, level, lines);
    }

    const Game501::json& players = match.at("players");
    const std::string set = std::to_string(match.at("set").get<int>());
    const std::string leg = std::to_string(match.at("leg").get<int>());
    lines.heading = sets == 1 ? "Leg " + leg + " – först till " + std::to_string(legs) + " legs\n"
                              : "Set " + set + ", leg " + leg + " – först till " +
                                    std::to_string(sets) + " set, " + std::to_string(legs) +
                                    (legs == 1 ? " leg" : " legs") + " per set\n";
    for (std::size_t position = 0; position < order.size(); ++position) {
        const Game501::json& player = players.at(order[position].get<std::size_t>());
        std::string note;
        if (sets > 1) {
            note += "  set " + countText(player.at("sets").get<int>(), sets);
        }
        note += "  legs " + countText(player.at("legs").get<int>(), legs);
        if (position == 0) {
            note += "  (började)";
        }
        lines.notes.push_back(std::move(note));
    }

    if (game.at("status") == "finished") {
        const Game501::json& won = match.at("finished_legs").back();
        const Game501::json& winner = players.at(won.at("winner").get<std::size_t>());
        const std::string name = displayText(winner.at("name").get<std::string>());
        if (match.at("status") == "finished") {
            lines.finished = name + " vann matchen. Skriv \"start NAMN, NAMN\" för en ny match.\n";
        } else if (sets > 1 && winner.at("legs").get<int>() == legs) {
            lines.finished = name + " vann set " + set + ". Skriv \"clear\" för nästa set.\n";
        } else {
            lines.finished = name + " vann leg " + leg + ". Skriv \"clear\" för nästa leg.\n";
        }
    }
    return legBoard(game, level, lines);
}

}  // namespace game501::cli
