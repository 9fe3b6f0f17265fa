// A match of 501 for one to eight players as typed records: legs played one
// after another, each one Leg, "first to L legs", optionally in sets ("first
// to S sets, each first to L legs"), and the record of every dart that
// stands (match_record.h). The throw passes from leg to leg; the next leg
// begins at the board clear after a leg's winning dart, and an undo right
// after that clear puts the finished leg back. Match501 is a Match behind a
// mutex, answering with documents.
//
// Example:
//   game501::Match match;
//   match.start({"Ymma", "Sjörk"}, game501::Match::Format{3, 1});  // first to 3 legs
//   match.addDart("T20", "keyboard");
//   // match.leg().players()[0].score == 441, match.legs()[0].visits[0].darts.size() == 1
//
// Thread safety: none, not even between const calls (figures() keeps a
// cache); the owner serialises every call, so that a dart takes the owner's
// one lock.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "leg.h"
#include "match_record.h"
#include "statistics.h"

namespace game501 {

class Match {
public:
    // What a player must win: `legs` legs to win a set, `sets` sets to win
    // the match. With one set the match is simply first to `legs` legs.
    struct Format {
        int legs = 1;
        int sets = 1;
    };

    static constexpr int kMinLegs = 1;
    static constexpr int kMaxLegs = 20;
    static constexpr int kMinSets = 1;
    static constexpr int kMaxSets = 10;

    // Who has won what, by the match's players in their starting order.
    struct Standing {
        GameStatus status = GameStatus::idle;
        std::vector<int> legs;  // legs won in the set of the last leg
        std::vector<int> sets;  // sets won
        int winner = -1;        // the match's winner; -1 while there is none
    };

    // Each player's counts, in the starting order: in the leg being played
    // (or just won) and over the match so far.
    struct Figures {
        std::vector<statistics::Counts> leg;
        std::vector<statistics::Counts> match;
    };

    // A leg that has a winner, as the match's standing lists it.
    struct FinishedLeg {
        int set = 1;
        int leg = 1;
        int starter = 0;
        int winner = 0;
        int darts = 0;  // the winner's, each visit counted as dartsCharged counts it
    };

    // Everything the match's standing shows, as values: for an owner that
    // shows it later, or on another thread, without the match itself.
    struct Overview {
        Format format;
        std::vector<std::string> players;  // as players()
        Standing standing;
        std::vector<FinishedLeg> finished_legs;  // oldest first
        std::vector<int> throwing_order;         // player(position) for each position
        int set = 0;                             // of the last leg; 0 when idle
        int leg = 0;                             // of the last leg; 0 when idle
        int starter = -1;                        // of the last leg; -1 when idle
    };

    // Creates an idle match whose legs stamp darts with `clock` (an empty one
    // means the wall clock); a match replayed with the times it was first
    // played with gives the same records.
    explicit Match(Leg::Clock clock = {});

    // Starts a new match, discarding any match in progress, and returns the
    // first leg's start answer. `players` are in the first leg's throwing
    // order and are named as Leg::start names them. Refuses a format out of
    // range, and player counts the leg refuses, and then changes nothing.
    Answer start(const std::vector<std::string>& players, Format format);

    // Registers one dart in the leg being played, accepted or refused as
    // Leg::addDart decides. Refused between legs until the board is cleared,
    // and once the match is over.
    Answer addDart(const std::string& notation, const std::string& source);
    Answer addDart(const DartValue& dart, const std::string& source);

    // Takes back the last dart that stands. Once the next leg has begun and
    // while no dart of it stands, that is the winning dart of the leg before:
    // that leg is played on, and its win comes off the legs and sets won.
    // Never reaches back further than that leg. Refuses when there is
    // nothing to undo.
    Answer undo();

    // Confirms that the board is empty. After the winning dart of a leg that
    // does not end the match, this begins the next leg and returns its start
    // answer. Always accepted.
    Answer markBoardClear();

    // Returns the match to its initial idle state. Always accepted.
    Answer reset();

    // The leg being played, or just finished; an idle one when no match has
    // started.
    const Leg& leg() const { return leg_; }
    // The format (the default one when idle).
    const Format& format() const { return format_; }
    // The players' names in the starting order, as the first leg named them;
    // empty when idle.
    const std::vector<std::string>& players() const { return names_; }
    // Every leg's record so far, oldest first, the leg being played last;
    // empty when idle.
    const std::vector<LegRecord>& legs() const { return legs_; }
    // Returns the match's player (an index into players()) at `position` of
    // the throwing order of the leg being played.
    int player(int position) const;
    Standing standing() const;
    Figures figures() const;
    Overview overview() const;

private:
    // Starts the leg after the last one; the finished leg is kept so that an
    // undo can put it back.
    Answer startNextLeg();
    Answer refusal(std::string message) const;
    // Brings the record of the leg being played up to its last accepted dart.
    void recordDart(TurnOutcome outcome);
    // Takes the last dart out of the record of the leg being played.
    void takeBackDart();
    // The legs before the last one, all won, summed up. They change only by
    // an undo that puts the last of them back in play, which leaves one leg
    // fewer behind it, or by a new match.
    struct Finished {
        std::size_t legs = 0;                    // how many it covers
        std::vector<statistics::Counts> counts;  // summed, by player
        std::vector<FinishedLeg> won;
    };
    // Returns them, worked out again only when their number changed.
    const Finished& finished() const;

    Leg::Clock clock_;
    Format format_;
    std::vector<std::string> names_;      // as the first leg named them
    std::vector<std::string> leg_names_;  // what every leg is started with
    Leg leg_;                             // the leg being played, or an idle one
    std::optional<Leg> finished_leg_;     // the leg before it, while undo may reach it
    std::vector<LegRecord> legs_;         // oldest first; empty when idle
    mutable std::optional<Finished> finished_;
};

}  // namespace game501
