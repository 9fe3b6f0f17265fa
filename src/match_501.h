// A match of 501 for one to eight players: legs played one after another,
// each one game of 501, "first to L legs", optionally in sets ("first to S
// sets, each first to L legs"). The throw passes from leg to leg; the next leg
// begins at the board clear after a leg's winning dart, and an undo right
// after that clear puts the finished leg back. Darts, undo, clear and reset
// answer with the leg's documents, as Game501 makes them; match() adds the
// score in legs and sets. The rules and the record are a game501::Match
// (match.h); Match501 is that match behind one mutex.
//
// Example:
//   Match501 match;
//   match.start({"Ymma", "Sjörk"}, Match501::Format{3, 1});  // first to 3 legs
//   match.addDart("T20", "keyboard");  // the first leg's engine's response
//   // match.match()["players"][0]["legs"] == 0, match.match()["leg"] == 1
//
// Thread safety: every public operation but the constructors and the static
// functions holds the match's one mutex for its whole run, so any number of
// threads may share one match. Returned documents and records are
// independent copies.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "game_501.h"
#include "match.h"
#include "match_record.h"
#include "mutex.h"
#include "statistics.h"

namespace game501 {

class Match501 {
public:
    using json = Game501::json;
    using Clock = Game501::Clock;

    // What a player must win: `legs` legs to win a set, `sets` sets to win
    // the match. With one set the match is simply first to `legs` legs.
    using Format = Match::Format;

    static constexpr int kMinLegs = Match::kMinLegs;
    static constexpr int kMaxLegs = Match::kMaxLegs;
    static constexpr int kMinSets = Match::kMinSets;
    static constexpr int kMaxSets = Match::kMaxSets;

    // Creates an idle match whose legs stamp darts with the wall clock.
    Match501();
    // Creates an idle match whose legs stamp darts with `clock` (an empty
    // one means the wall clock); a match replayed with the times it was
    // first played with gives the same documents.
    explicit Match501(Clock clock);
    Match501(const Match501&) = delete;
    Match501& operator=(const Match501&) = delete;

    // Starts a new match, discarding any match in progress, and returns the
    // first leg's start response. `players` are in the first leg's throwing
    // order and are named as Game501::start names them. Refuses a format out
    // of range, and player counts the engine refuses, and then changes
    // nothing.
    json start(const std::vector<std::string>& players, Format format);
    // Starts a match of one leg, which plays exactly as a single game.
    json start(const std::vector<std::string>& players) { return start(players, Format{}); }

    // Registers one dart in the leg being played; returns that leg's
    // response, accepted or refused as Game501::addDart decides. Refused
    // between legs until the board is cleared, and once the match is over.
    json addDart(const std::string& notation, const std::string& source);

    // Takes back the last dart that stands and returns the leg's undo
    // response. Once the next leg has begun and while no dart of it stands,
    // that is the winning dart of the leg before: that leg is played on, and
    // its win comes off the legs and sets won. Never reaches back further
    // than that leg. Refuses when there is nothing to undo.
    json undo();

    // Confirms that the board is empty. After the winning dart of a leg that
    // does not end the match, this begins the next leg and returns its start
    // response; otherwise the leg's clear response. Always accepted.
    json markBoardClear();

    // Returns the match to its initial idle state and returns the leg
    // engine's reset response. Always accepted.
    json reset();

    // Returns the state document of the leg being played (or just finished;
    // an idle engine's when no match has started).
    json state() const;

    // Returns the match document: the format, the players with the legs and
    // sets they have won, the leg being played and its starter, every
    // finished leg, the status and winner, and the leg's state document.
    json match() const;

    // Returns the match document without the leg's state document ("game"),
    // for a front end that has that document already.
    json standing() const;

    // Each player's counts, in the starting order: in the leg being played
    // (or just won) and over the match so far.
    using Figures = Match::Figures;

    // Returns the standing without the players' "figures", and the figures
    // as counts, for a caller that makes documents of them only when it
    // sends them (withFigures).
    std::pair<json, Figures> standingAndFigures() const;

    // Returns `standing` with each player's "figures": {"leg", "match"}, each
    // statistics::toJson of the counts, as standing() has them.
    static json withFigures(json standing, const Figures& figures);

    // Returns every leg's record so far, the leg being played last.
    std::vector<LegRecord> legs() const;

    // Returns the players' names in the starting order, as the legs show
    // them; empty when idle.
    std::vector<std::string> players() const;

    // Returns the format of the match (the default one when idle).
    Format format() const;

    // Return the documents of `match`, as match() and standingAndFigures()
    // return those of the match's own: for an owner that keeps a
    // game501::Match under a lock of its own. The leg's documents are
    // Game501::stateDocument and Game501::responseDocument of match.leg().
    static json matchDocument(const Match& match);
    static json standingDocument(const Match& match);  // without the figures
    // Returns the standing document of a match's overview, as
    // standingDocument(match) returns it of match.overview().
    static json standingDocument(const Match::Overview& overview);

private:
    json respondLocked(const Answer& answer) const GAME501_REQUIRES(mutex_);

    mutable Mutex mutex_;
    Match match_ GAME501_GUARDED_BY(mutex_);
};

}  // namespace game501
