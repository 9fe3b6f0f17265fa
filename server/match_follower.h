// Which match a board plays, followed row by row: where it began, its
// computers, and what each row changes in the archive of matches. The
// archive is written only as a match begins and as its status changes;
// while it is played, its counts are the board's own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "actions.h"
#include "archive.h"
#include "computer_player.h"
#include "game_501.h"
#include "journal.h"
#include "match_501.h"

namespace game501::server {

// Not thread-safe: the board's lock guards it.
class MatchFollower {
public:
    explicit MatchFollower(int board) : board_(board) {}

    // Follows no match: the board is rebuilt from nothing.
    void clear();
    // Follows `row`, once it ran: an accepted start begins a match (its
    // computers seated), an accepted reset ends it.
    void follow(const JournalRow& row);
    // Takes the status of the match rebuilt from the journal (the standing's
    // "status") as what the archive holds, since each change of it was
    // written with its row.
    void rebuilt(const std::string& status);

    // Returns the archive's entry of the match being played, "abandoned",
    // when a command of `kind` would end it unfinished; taken before the
    // command runs, while the match is still there.
    std::optional<archive::MatchEntry> abandonedBy(Command::Kind kind, const Match501& match,
                                                   std::int64_t time) const;
    // Adds to `row`, once it ran, what it changes in the archive: the match
    // it abandons (`abandoned`) when it begins a game anew, then the entry of
    // the match it begins or whose status it changes. `standing` and
    // `figures` are the match's after the row.
    void addMatchUpdates(JournalRow& row, std::optional<archive::MatchEntry> abandoned,
                         const Match501& match, const Game501::json& standing,
                         const Match501::Figures& figures);

    // Returns the event of the match's start; 0 when none is played.
    std::uint64_t startEvent() const { return start_event_; }
    // Adds what the board knows of the match to its standing: its "id"
    // (null for none) and each player's "computer" level (null for a
    // person).
    void addBoardFacts(Game501::json& standing) const;
    // Returns the match's computers by its players; empty when only people
    // play.
    std::vector<std::optional<ComputerThrower>>& computers() { return computers_; }

private:
    archive::MatchEntry entry(const Match501& match, const Game501::json& standing,
                              const Match501::Figures& figures, std::int64_t time) const;

    const int board_;
    std::uint64_t start_event_ = 0;
    std::int64_t started_ = 0;  // the time of the start
    std::string status_ = "idle";
    std::string archived_status_;  // the status as the archive has it
    std::vector<std::optional<ComputerThrower>> computers_;
    std::vector<std::optional<ComputerLevel>> levels_;
};

}  // namespace game501::server
