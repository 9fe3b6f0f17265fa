#include "scoreboard.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "front_end.h"
#include "utf8.h"

namespace game501_cli {

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

std::string scoreboard(const Game501::json& state, const SkillLevel* level) {
    const std::string status = state.at("status").get<std::string>();
    if (status == "idle") {
        return "Inget spel pågår. Skriv \"start NAMN, NAMN\" för att börja.\n";
    }

    std::string board = "Runda " + std::to_string(state.at("round").get<int>()) + "\n";
    const Game501::json& players = state.at("players");
    std::vector<std::string> names;
    std::size_t name_width = 0;
    for (const Game501::json& player : players) {
        names.push_back(displayText(player.at("name").get<std::string>()));
        name_width = std::max(name_width, displayWidth(names.back()));
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Game501::json& player = players[i];
        const bool winner = player.at("winner").get<bool>();
        const char* const mark = winner ? "*" : player.at("active").get<bool>() ? ">" : " ";
        const std::string padded = names[i] + std::string(name_width - displayWidth(names[i]), ' ');
        board += std::string("  ") + mark + " " + padded + "  " +
                 rightAligned(std::to_string(player.at("score").get<int>()), 3) +
                 (winner ? "  vinnare" : "") + "\n";
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
        board += "Spelet är slut. Skriv \"start NAMN, NAMN\" för ett nytt spel.\n";
        return board;
    }
    if (state.at("awaiting_clear").get<bool>()) {
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

}  // namespace game501_cli
