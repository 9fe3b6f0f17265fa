// Which match a board plays, followed row by row: where it began, its
// computers, and what each row changes in the archive of matches. The
// archive is written only as a match begins and as its status changes;
// while it is played, its counts are the board's own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accuracies.h"
#include "actions.h"
#include "archive.h"
#include "computer_player.h"
#include "game_501.h"
#include "journal.h"
#include "match.h"
#include "win_chances.h"

namespace game501::server {

// What a board knows of its match beside the match itself, settled by the
// match's start.
struct MatchFacts {
    int board = 0;
    std::uint64_t start_event = 0;  // 0 when no match is played
    // By the match's players: a computer's level, none for a person; empty
    // when only people play.
    std::vector<std::optional<ComputerLevel>> levels;
    // By the match's players: what their chances to win are worked out
    // from; empty unless two play.
    std::vector<PlayerAccuracy> accuracies;
    // The competition and its match that the server called here; 0 for none.
    int competition = 0;
    int competition_match = 0;
};

// Returns the level of a start's computer as the journal keeps it: a
// level's text (parseComputerLevel), or likeLevel's; nothing for another.
std::optional<ComputerLevel> seatLevel(std::string_view text);
// Returns the level of a computer that throws with a member's sigma, as the
// journal keeps it, so that the match is played again with the same darts
// whatever the member's sigma is later: "like:12.3:NAME".
std::string likeLevel(double sigma_mm, const std::string& member);

// Adds the board's facts to a match's standing document: its "id" (where
// its report is, /matches/ID; null for none) and each player's "computer"
// (null for a person): its level (computerLevelJson), or {"like": NAME,
// "sigma_mm"} for one that throws like a member; and for a competition's
// match its "competition": {"id", "match"}.
void addBoardFacts(Game501::json& standing, const MatchFacts& facts);

// Returns the levels of a start's computers (Command::computers, each as
// seatLevel reads it), by the start's players: none for a person; empty
// when only people play.
std::vector<std::optional<ComputerLevel>> computerLevels(const std::vector<std::string>& computers);

// Not thread-safe: the board's lock guards it.
class MatchFollower {
public:
    // The players' accuracies at a start come from `accuracies`, which
    // outlives it.
    MatchFollower(int board, const Accuracies& accuracies);

    // Follows no match: the board is rebuilt from nothing.
    void clear();
    // Follows `row`, once it ran: an accepted start begins a match (its
    // computers seated), an accepted reset ends it.
    void follow(const JournalRow& row);
    // Takes the status of the match rebuilt from the journal as what the
    // archive holds, since each change of it was written with its row.
    void rebuilt(GameStatus status);

    // A match that a command ends unfinished: its archive entry,
    // "abandoned", and its legs.
    struct Abandoned {
        archive::MatchEntry entry;
        std::shared_ptr<const std::vector<LegRecord>> legs;
    };
    // Returns the match being played when a command of `kind` would end it
    // unfinished; taken before the command runs, while the match is there.
    std::optional<Abandoned> abandonedBy(Command::Kind kind, const Match& match,
                                         std::int64_t time) const;
    // Adds to `row`, once it ran on `match`, what it changes in the archive:
    // the match it abandons (`abandoned`) when it begins a game anew, then
    // the entry of the match it begins or whose status it changes; and the
    // legs of the match it ends.
    void addMatchUpdates(JournalRow& row, std::optional<Abandoned> abandoned, const Match& match);

    // Returns the event of the match's start; 0 when none is played.
    std::uint64_t startEvent() const { return facts_->start_event; }
    // Returns the facts of the match, shared with what readers see; they
    // change only with the next start or reset.
    const std::shared_ptr<const MatchFacts>& facts() const { return facts_; }
    // Returns the match's computers by its players; empty when only people
    // play.
    const std::vector<std::optional<ComputerThrower>>& computers() const { return computers_; }

private:
    archive::MatchEntry entry(const Match& match, const Match::Standing& standing,
                              std::int64_t time) const;

    const int board_;
    const Accuracies& accuracies_;
    std::shared_ptr<const MatchFacts> facts_;
    std::int64_t started_ = 0;  // the time of the start
    GameStatus status_ = GameStatus::idle;
    std::string archived_status_;  // the status as the archive has it
    std::vector<std::optional<ComputerThrower>> computers_;
};

}  // namespace game501::server
