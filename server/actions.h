// The writes a board takes, in one table that the router, the board and the
// fuzz target all read: each action's path below /api/boards/N/, the engine
// call it makes, whether its request carries a body, and its event's name;
// and a write as a request asks for it and as the board answers it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace game501::server {

// One mutating call on a board, as it reaches the engine.
struct Command {
    enum class Kind { start, dart, undo, clear, reset };
    Kind kind = Kind::reset;
    std::vector<std::string> players;  // for start
    std::string notation;              // for dart
    std::string source;                // for dart
    int legs = 1;                      // for start: legs to win a set
    int sets = 1;                      // for start: sets to win the match
    // For start: per player the level of a computer ("club", "70"), empty
    // for a person; none at all when every player is a person.
    std::vector<std::string> computers;
    std::uint64_t seed = 0;  // for start with a computer: its darts' seed
    // For a start the server made: the competition and its match called to
    // the board; 0 for a start of the board's own.
    int competition = 0;
    int competition_match = 0;

    friend bool operator==(const Command& a, const Command& b) {
        return a.kind == b.kind && a.players == b.players && a.notation == b.notation &&
               a.source == b.source && a.legs == b.legs && a.sets == b.sets &&
               a.computers == b.computers && a.seed == b.seed && a.competition == b.competition &&
               a.competition_match == b.competition_match;
    }
    friend bool operator!=(const Command& a, const Command& b) { return !(a == b); }
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

// A write's condition on the board, from If-Match: the event ids after
// which it may be applied, or any at all.
struct Precondition {
    bool any = false;
    std::vector<std::uint64_t> event_ids;

    bool holdsAfter(std::uint64_t last_event_id) const {
        return any ||
               std::find(event_ids.begin(), event_ids.end(), last_event_id) != event_ids.end();
    }
};

// One write as a request asks for it.
struct Write {
    Command command;
    std::string idempotency_key;  // empty: none
    std::optional<Precondition> precondition;
};

// A text made once and shared, without a copy, by whoever keeps it (a board's
// last answer, its display) and the answers that send it.
using SharedText = std::shared_ptr<const std::string>;

inline SharedText shareText(std::string text) {
    return std::make_shared<const std::string>(std::move(text));
}

// A document as the engine made it, serialised, with the id of the last
// event it includes.
struct Document {
    SharedText json;  // null when the outcome carries none
    std::uint64_t event_id = 0;
};

// How a write was answered.
struct WriteResult {
    enum class Outcome {
        applied,              // the engine ran it (or ran it before: a retry); see document
        precondition_failed,  // the board's last event is another; document.event_id is it
        key_reused,           // the key came with another request before
        storage_unavailable,  // the journal could not take the row; nothing changed
        outcome_unknown,      // its commit failed part way: the row may be in the journal or not
    };
    Outcome outcome = Outcome::applied;
    Document document;
};

// Returns the arguments of `command` as compact JSON, the form the journal
// keeps them in: {"legs", "players": [...], "sets"} for start, with
// "computers" and "seed" when a computer plays and "competition" and
// "competition_match" for a competition's call, {"notation", "source"} for a
// dart, {} for the others. Texts from a request are valid UTF-8, so they
// come back byte for byte.
std::string argumentsJson(const Command& command);

// Reads a command back from its event's operation name and its arguments;
// nothing when they do not make one.
std::optional<Command> commandFrom(std::string_view operation, std::string_view arguments);

}  // namespace game501::server
