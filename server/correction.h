// What an organiser changes: a player added to the register, renamed or
// merged into another, a match made void or counted again. A correction as
// a request asks for it, as the journal keeps it, and as the journal's
// writer answers it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace game501::server {

struct Correction {
    enum class Kind { add_player, rename, merge, void_match };
    Kind kind = Kind::add_player;
    std::string player;  // rename, merge: the player as the address names it
    std::string name;    // add_player, rename: the name to have
    std::string into;    // merge: the player who stays
    int board = 0;       // void_match: the match, by its board and start
    std::uint64_t start_event = 0;
    bool voided = false;  // void_match: void, or counted again
};

// Returns the operation's name as the journal keeps it: "add_player",
// "rename", "merge" or "void".
std::string_view operationOf(Correction::Kind kind);

// Returns the arguments of `correction` as compact JSON, the form the
// journal keeps them in: {"name"} to add, {"name", "player"} to rename,
// {"into", "player"} to merge, {"match", "void"} for a match.
std::string argumentsJson(const Correction& correction);

// How a correction was answered.
struct CorrectionResult {
    enum class Outcome {
        applied,              // durable; document is the answer
        unknown_player,       // a name the register does not know; message says which
        unknown_match,        // no such match
        name_taken,           // another player has the name; message says who
        storage_unavailable,  // the journal could not take it; nothing changed
        outcome_unknown,      // its commit failed part way: it may be in the journal or not
    };
    Outcome outcome = Outcome::applied;
    std::string message;   // Swedish, for a refusal
    std::string document;  // JSON, once applied
};

}  // namespace game501::server
