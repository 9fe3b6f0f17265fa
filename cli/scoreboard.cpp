#include "scoreboard.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "checkout_hint.h"

namespace game501_cli {

namespace {

constexpr int kDartsPerTurn = 3;
const char* const kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence that starts at `at`, or 0 when none
// does (overlong forms, surrogates and values above U+10FFFF are invalid).
std::size_t validSequenceLength(const std::string& text, std::size_t at) {
    const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const std::uint8_t next = byte(at + i);
        // Only the second byte has a narrowed range.
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) {
            return 0;
        }
    }
    return length;
}

bool isControl(const std::string& text, std::size_t at, std::size_t length) {
    const auto lead = static_cast<std::uint8_t>(text[at]);
    if (length == 1) {
        return lead < 0x20 || lead == 0x7F;
    }
    // C1 controls, U+0080 to U+009F, are encoded C2 80 to C2 9F.
    return length == 2 && lead == 0xC2 && static_cast<std::uint8_t>(text[at + 1]) < 0xA0;
}

// Characters as a terminal counts them, for aligning columns.
std::size_t displayWidth(const std::string& text) {
    std::size_t width = 0;
    for (const char c : text) {
        if ((static_cast<std::uint8_t>(c) & 0xC0U) != 0x80U) {
            ++width;
        }
    }
    return width;
}

std::string rightAligned(const std::string& text, std::size_t width) {
    const std::size_t shown = displayWidth(text);
    return shown >= width ? text : std::string(width - shown, ' ') + text;
}

}  // namespace

std::string displayText(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = validSequenceLength(text, at);
        if (length == 0) {
            shown += kReplacement;
            ++at;
        } else if (isControl(text, at, length)) {
            shown += kReplacement;
            at += length;
        } else {
            shown.append(text, at, length);
            at += length;
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
    const std::size_t active = state.at("active_player").get<std::size_t>();
    if (active < players.size()) {
        const int score = players[active].at("score").get<int>();
        const int darts_left = kDartsPerTurn - static_cast<int>(darts.size());
        const CheckoutAdvice advice = level == nullptr
                                          ? CheckoutAdvice{checkoutHint(score, darts_left), 0.0}
                                          : checkoutAdvice(score, darts_left, level->sigma_mm);
        if (!advice.route.empty()) {
            board += "Utgång:";
            for (const std::string& dart : advice.route) {
                board += " " + dart;
            }
            if (level != nullptr) {
                board += " (" + std::to_string(std::lround(100.0 * advice.probability)) + " %)";
            }
            board += "\n";
        }
    }
    return board;
}

}  // namespace game501_cli
