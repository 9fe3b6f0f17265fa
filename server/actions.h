// The writes a board takes, in one table that the router, the board and the
// fuzz target all read: each action's path below /api/boards/N/, the engine
// call it makes, whether its request carries a body, and its event's name.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace game501_server {

// One mutating call on a board, as it reaches the engine.
struct Command {
    enum class Kind { start, dart, undo, clear, reset };
    Kind kind = Kind::reset;
    std::vector<std::string> players;  // for start
    std::string notation;              // for dart
    std::string source;                // for dart
};

struct Action {
    std::string_view path;  // "darts" in POST /api/boards/N/darts
    Command::Kind kind;
    bool has_body;               // JSON, required; the others take none
    std::string_view operation;  // the event's "operation"
};

inline constexpr std::array<Action, 5> kActions = {{
    {"start", Command::Kind::start, true, "start"},
    {"darts", Command::Kind::dart, true, "dart"},
    {"undo", Command::Kind::undo, false, "undo"},
    {"clear", Command::Kind::clear, false, "clear"},
    {"reset", Command::Kind::reset, false, "reset"},
}};

// Returns the action at `path`, or nullptr when there is none.
constexpr const Action* findAction(std::string_view path) {
    for (const Action& action : kActions) {
        if (action.path == path) {
            return &action;
        }
    }
    return nullptr;
}

// Returns the action that runs `kind`.
constexpr const Action& actionOf(Command::Kind kind) {
    for (const Action& action : kActions) {
        if (action.kind == kind) {
            return action;
        }
    }
    return kActions.front();  // unreachable: every kind has its row
}

}  // namespace game501_server
