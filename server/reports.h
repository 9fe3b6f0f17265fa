// The answers about what has been played: players and their careers,
// matches and their reports, and a match's darts as CSV. The figures come
// from the archive, the darts from the match's journal rows, and the
// matches being played from their boards' live counts. Each is a plain
// function from what the address names to the answer; a read the database
// cannot take is answered 503.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "accuracies.h"
#include "answers.h"
#include "archive_reader.h"
#include "board.h"
#include "match_record.h"

namespace game501::server {

// Thread-safe.
class Reports {
public:
    Reports(ArchiveReader& reader, const Boards& boards, Accuracies& accuracies)
        : reader_(reader), boards_(boards), accuracies_(accuracies) {}

    // GET /api/players: every member with the matches that count, their
    // figures and their sigma as the boards use it (null for none).
    Response players(unsigned version) const;
    // GET /api/players/NAME: a member's figures and the matches that count,
    // and apart those that do not: abandoned, practice (with the computer)
    // and other (being played); a void match in none; their "accuracy" and
    // "accuracy_history" (404 unknown_player for a name the register does
    // not know).
    Response player(const std::string& name, unsigned version) const;
    // GET /api/matches?player=NAME&from=DATE&to=DATE&page=N: a page of the
    // matches, of the member NAME when it is given (400 for a query it
    // cannot read).
    Response matches(std::string_view query, unsigned version) const;
    // GET /api/matches.csv?from=DATE&to=DATE: every dart of every match
    // begun on those days, oldest match first, under one header (400 for a
    // query it cannot read).
    Response daysCsv(std::string_view query, unsigned version) const;
    // GET /api/matches/ID: a match's report (404 for none).
    Response match(std::string_view id, unsigned version) const;
    // GET /api/matches/ID/darts.csv: every dart of a match (404 for none).
    Response dartsCsv(std::string_view id, unsigned version) const;

private:
    // Answers a read of the archive with `answer`, or 503 when it throws.
    template <typename Answer>
    Response read(unsigned version, const Answer& answer) const;
    Response report(std::string_view id, bool csv, unsigned version) const;
    // A match played again from its journal rows.
    struct Played {
        std::vector<LegRecord> legs;
        std::vector<std::string> computers;  // its start's levels (Command::computers)
    };
    Played playedAgain(const archive::MatchEntry& entry) const;
    // The boards' counts of the matches they are playing.
    LiveCounts live() const;

    ArchiveReader& reader_;
    const Boards& boards_;
    Accuracies& accuracies_;
};

}  // namespace game501::server
