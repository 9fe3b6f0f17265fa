// One game of 501 with double-out for one to eight players, as typed
// records: the rules and the state that Game501 keeps behind its lock and
// shows as documents. A match plays one Leg per leg.
//
// Darts arrive one at a time, as a notation ("T20", "D12", "BULL", "MISS")
// or as a DartValue already read. Every operation answers with an Answer;
// a refusal ("accepted" false) changes nothing.
//
// Example:
//   game501::Leg leg;
//   leg.start({"Zef"});
//   const game501::Answer answer = leg.addDart("T20", "keyboard");
//   // answer.message == "T20 registrerad", leg.players()[0].score == 441
//
// Thread safety: none; the owner serialises every call, const ones included.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "match_record.h"
#include "rules.h"

namespace game501 {

// One dart as the rules read it.
struct DartValue {
    std::string notation;  // canonical: "MISS", "OUTER", "BULL", S/D/T 1-20
    int value = 0;         // points scored, 0 to 60
    bool is_double = false;
};

// Returns the dart that lands in `bed` (beds.h numbering); a MISS for
// anything that is not a bed.
DartValue dartValue(int bed);

// Reads a dart notation as beds::parseBed does: case and surrounding ASCII
// white space are ignored. Returns nothing when the text is not a dart.
std::optional<DartValue> parseDart(const std::string& notation);

// Whether a game is being played.
enum class GameStatus { idle, playing, finished };

// Returns the status as documents write it: "idle", "playing" or "finished".
const char* statusName(GameStatus status);

// What an operation did.
struct Answer {
    bool accepted = false;
    std::string message;                   // Swedish, for players
    GameStatus status = GameStatus::idle;  // the game's, after the operation
    // For an accepted dart: how its visit stands after it. Open otherwise.
    TurnOutcome outcome = TurnOutcome::open;
};

class Leg {
public:
    // Returns the time to stamp a dart with, in milliseconds since the epoch.
    using Clock = std::function<std::int64_t()>;

    struct Player {
        std::string name;
        int score = 0;
    };

    // One visit: a player's turn of up to three darts.
    struct Turn {
        int player = 0;       // index into players(), who throw in that order
        int round = 1;        // counted from 1; in a round every player throws once
        int start_score = 0;  // the player's score before its first dart
        int end_score = 0;    // the player's score after it, once it has ended
        TurnOutcome outcome = TurnOutcome::open;
        std::vector<DartRecord> darts;
    };

    // Creates an idle leg that stamps darts with `clock`, which is called once
    // per accepted dart; an empty one means the wall clock.
    explicit Leg(Clock clock = {});

    // Starts a new game for 1 to 8 players in throwing order, discarding any
    // game in progress. Refuses other counts. Blank names get a default
    // ("Spelare 2"); names are trimmed and cut to 32 bytes without splitting
    // a UTF-8 character.
    Answer start(const std::vector<std::string>& player_names);

    // Registers one dart of the active player. Refuses it when no game is
    // playing, when the board must first be confirmed clear, or when the
    // notation cannot be read; the refusal of an unreadable notation echoes
    // it, with each byte sequence that is not valid UTF-8 shown as U+FFFD.
    // `source` is stored byte for byte. An accepted dart can be undone.
    Answer addDart(const std::string& notation, const std::string& source);
    // Registers a dart already read (parseDart's or dartValue's), refused
    // only as a readable notation is.
    Answer addDart(const DartValue& dart, const std::string& source);

    // Takes back the last accepted dart and everything it caused, from up to
    // 100 darts back. Refuses when there is nothing to undo.
    Answer undo();

    // Confirms that the board is empty, which lets the next player throw.
    // Always accepted.
    Answer markBoardClear();

    // Returns the leg to its initial idle state. Always accepted.
    Answer reset();

    GameStatus status() const { return now_.status; }
    // The players in throwing order; empty while idle.
    const std::vector<Player>& players() const { return now_.players; }
    // The visit being thrown: the active player's, also before its first
    // dart; once the game is won, the winning visit.
    const Turn& turn() const { return now_.turn; }
    // The visits that have ended, oldest first: the last 100.
    const std::deque<Turn>& history() const { return now_.history; }
    // Whether the board must be confirmed clear before the next dart.
    bool awaitingClear() const { return now_.awaiting_clear; }
    // The winner's index into players(); -1 while there is none.
    int winner() const { return now_.winner; }
    bool canUndo() const { return !undo_stack_.empty(); }
    // Returns a number that changes with every change of the history or of
    // the names it shows, and that no other history in the process had: two
    // legs of one number have the same history. Copies of a leg share it.
    std::uint64_t historyVersion() const { return now_.history_version; }

private:
    // The state of a leg.
    struct State {
        GameStatus status = GameStatus::idle;
        std::vector<Player> players;
        Turn turn;
        std::deque<Turn> history;
        std::uint64_t history_version = 0;  // 0 for no players and no history
        bool awaiting_clear = false;
        int winner = -1;
    };

    // What an accepted dart changed that its own record does not tell: the
    // unit of undo. A dart is accepted only while the game is playing, no
    // clear is awaited and nobody has won, so those need no keeping.
    struct UndoPoint {
        int score = 0;               // the thrower's score before the dart
        bool ended_turn = false;     // whether the dart ended its visit
        std::optional<Turn> oldest;  // the visit it pushed out of a full history
    };

    Answer answer(bool accepted, std::string message,
                  TurnOutcome outcome = TurnOutcome::open) const;
    // Returns the refusal of any dart now, if darts are refused.
    std::optional<Answer> dartRefusal() const;
    Answer scoreDart(const DartValue& dart, const std::string& source);
    // Puts the leg at the start of a game (or idle, with no players), with
    // nothing to undo.
    void begin(GameStatus status, std::vector<Player> players);
    // Ends the visit being thrown and keeps it in the history, the oldest
    // visit going once there are more than 100; notes both in the undo
    // point of the dart that ended it.
    void endTurn(TurnOutcome outcome, UndoPoint& point);
    // Gives the board to the next player.
    void passTurn();
    // Gives the history a version no history had before.
    void historyChanged();

    Clock clock_;
    State now_;
    std::deque<UndoPoint> undo_stack_;  // oldest first, at most 100
};

}  // namespace game501
