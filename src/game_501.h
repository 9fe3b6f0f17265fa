// Scoring engine for one game of 501 with double-out, for one to eight
// players, kept in memory. Darts arrive one at a time as short notations
// ("T20", "D12", "BULL", "MISS"); every operation but isPlaying and parseDart
// answers with a JSON document. User-facing messages are Swedish.
//
// Example:
//   Game501 game;
//   game.start({"Zef"});
//   const Game501::json answer = game.addDart("T20", "keyboard");
//   // answer["accepted"] == true, answer["game"]["players"][0]["score"] == 441
//
// Thread safety: every operation but the constructor and parseDart holds the
// engine's one mutex for its whole run, so any number of threads may share one
// engine. Returned documents are independent copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Game501 {
public:
    using json = nlohmann::json;

    // One dart notation as read by parseDart.
    struct DartValue {
        std::string notation;  // canonical: "MISS", "OUTER", "BULL", S/D/T 1-20
        int value = 0;         // points scored, 0 to 60
        bool is_double = false;
    };

    // The rules a front end needs to know beside the documents.
    static constexpr int kStartScore = 501;
    static constexpr std::size_t kMinPlayers = 1;
    static constexpr std::size_t kMaxPlayers = 8;
    static constexpr std::size_t kDartsPerTurn = 3;

    // Returns the time to stamp a dart with, in milliseconds since the epoch.
    using Clock = std::function<std::int64_t()>;

    // Creates an idle engine that stamps darts with the wall clock.
    Game501();
    // Creates an idle engine that stamps darts with `clock`, which is called
    // once per accepted dart while the engine's lock is held; a game replayed
    // with the times it was first played with gives the same documents.
    explicit Game501(Clock clock);
    Game501(const Game501&) = delete;
    Game501& operator=(const Game501&) = delete;

    // Starts a new game for 1 to 8 players in throwing order, discarding any
    // game in progress. Refuses other counts and then changes nothing. Blank
    // names get a default; names are trimmed and cut to 32 bytes.
    json start(const std::vector<std::string>& player_names);

    // Registers one dart of the active player. Refuses it when no game is
    // playing, when the board must first be confirmed clear, or when the
    // notation cannot be read; a refusal changes nothing. An accepted dart
    // can be undone. `source` is stored byte for byte, whatever its length.
    // The refusal of an unreadable notation echoes it, with each byte sequence
    // that is not valid UTF-8 shown as U+FFFD.
    //
    // What a label costs: every undo point copies the whole game, archived
    // darts included, so an engine holds about a hundred copies of each
    // label. Keep labels short, and bound untrusted ones before they arrive.
    json addDart(const std::string& notation, const std::string& source);

    // Takes back the last accepted dart and everything it caused. Refuses
    // when there is nothing to undo.
    json undo();

    // Confirms that the board is empty, which lets the next player throw.
    // Always accepted.
    json markBoardClear();

    // Returns the engine to its initial idle state. Always accepted.
    json reset();

    // Returns the state document of the game.
    json state() const;

    // Returns whether a game is in progress (false when idle or finished).
    bool isPlaying() const;

    // Reads a dart notation; returns nothing when the text is not a dart.
    // Case and surrounding ASCII whitespace are ignored. Takes no lock.
    static std::optional<DartValue> parseDart(const std::string& raw_notation);

private:
    struct Dart {
        std::string notation;
        int value = 0;  // the points thrown, also for a bust dart
        bool is_double = false;
        bool bust = false;  // set only on the dart that busted its turn
        std::string source;
        std::int64_t timestamp = 0;  // wall-clock milliseconds since the epoch
    };

    struct Player {
        std::string name;
        int score = 0;
    };

    struct Turn {
        int player_index = 0;
        int round = 0;
        int start_score = 0;
        int end_score = 0;
        std::string outcome;  // "scored", "bust" or "checkout"
        std::vector<Dart> darts;
    };

    // Everything an accepted dart can change; the unit of undo.
    struct Snapshot {
        std::string status;
        std::vector<Player> players;
        int active_player = 0;
        int round = 1;
        int turn_start_score = 0;
        std::vector<Dart> current_darts;
        std::deque<Turn> history;
        bool awaiting_clear = false;
        int winner = -1;

        // Exchanges two snapshots member by member, without copying or
        // allocating, so the undo stack can be rotated cheaply.
        friend void swap(Snapshot& a, Snapshot& b) noexcept {
            using std::swap;
            swap(a.status, b.status);
            swap(a.players, b.players);
            swap(a.active_player, b.active_player);
            swap(a.round, b.round);
            swap(a.turn_start_score, b.turn_start_score);
            swap(a.current_darts, b.current_darts);
            swap(a.history, b.history);
            swap(a.awaiting_clear, b.awaiting_clear);
            swap(a.winner, b.winner);
        }
    };

    static std::string normalizeName(const std::string& name, std::size_t index);
    static json dartJson(const Dart& dart);
    static std::int64_t nowMillis();

    // Puts the engine at the start of a game (or idle, with no players),
    // with nothing to undo.
    void beginLocked(const char* status, std::vector<Player> players);
    Snapshot snapshotLocked() const;
    // Overwrites `snapshot` with the same deep copy, reusing its storage.
    void snapshotLocked(Snapshot& snapshot) const;
    // Pushes an undo point; past 100 the oldest one goes.
    void pushSnapshotLocked();
    // Puts a snapshot back by moving it, which cannot fail.
    void restoreLocked(Snapshot&& snapshot);
    void archiveTurnLocked(const std::string& outcome);
    void advancePlayerLocked();
    json stateLocked() const;
    json responseLocked(bool accepted, const std::string& message) const;

    const Clock clock_;
    mutable std::mutex mutex_;
    std::string status_;
    std::vector<Player> players_;
    int active_player_;
    int round_;
    int turn_start_score_;
    std::vector<Dart> current_darts_;
    std::deque<Turn> history_;          // oldest first, at most 100 turns
    std::vector<Snapshot> undo_stack_;  // oldest first, at most 100 snapshots
    bool awaiting_clear_;
    int winner_;  // -1 while there is no winner
};
