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
// The rules and the state are a game501::Leg (leg.h); Game501 is that leg
// behind one mutex, answering with documents made from it.
//
// Thread safety: every operation but the constructor, parseDart and the
// static document functions holds the engine's one mutex for its whole run,
// so any number of threads may share one engine. Returned documents are
// independent copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "leg.h"
#include "mutex.h"
#include "rules.h"

class Game501 {
public:
    using json = nlohmann::json;

    // One dart notation as read by parseDart.
    using DartValue = game501::DartValue;

    // The rules a front end needs to know beside the documents.
    static constexpr int kStartScore = game501::kStartScore;
    static constexpr std::size_t kMinPlayers = game501::kMinPlayers;
    static constexpr std::size_t kMaxPlayers = game501::kMaxPlayers;
    static constexpr std::size_t kDartsPerTurn = game501::kDartsPerTurn;

    // Returns the time to stamp a dart with, in milliseconds since the epoch.
    using Clock = game501::Leg::Clock;

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
    // What a label costs: it is kept once with its dart, in the visit and in
    // the history of the last 100 visits; an undo point copies nothing of
    // it. Bound untrusted labels before they arrive.
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

    // Returns the state document of `leg`, as state() returns the engine's
    // own. For an owner that keeps a game501::Leg, or a game501::Match, under
    // a lock of its own and answers with the engine's documents.
    static json stateDocument(const game501::Leg& leg);

    // Returns the response document of `answer`, given by an operation on
    // `leg`: {"accepted", "game" (stateDocument of `leg`), "message"}.
    static json responseDocument(const game501::Answer& answer, const game501::Leg& leg);

    // Return the same documents as compact JSON text, each byte sequence
    // that is not valid UTF-8 written as U+FFFD (front_end::serialise): for
    // an owner that sends a leg's state beside the response that carries it,
    // and makes the state's text once for both. `state` is stateText of the
    // leg the operation ran on.
    static std::string stateText(const game501::Leg& leg);

    // A state text, and where in it the array of its history is.
    struct StateText {
        std::string text;
        std::uint64_t history_version = 0;  // the leg's (Leg::historyVersion)
        std::size_t history_begin = 0;
        std::size_t history_end = 0;
    };
    // Returns stateText(leg) and where its history is, copying the history
    // from `before` (a state text made earlier, or null) where that shows the
    // same history: for an owner that makes the text after every write.
    static StateText stateText(const game501::Leg& leg, const StateText* before);
    static std::string responseText(const game501::Answer& answer, const std::string& state);

private:
    json respondLocked(const game501::Answer& answer) const GAME501_REQUIRES(mutex_);

    mutable game501::Mutex mutex_;
    game501::Leg leg_ GAME501_GUARDED_BY(mutex_);
};
