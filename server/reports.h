// The answers about what has been played: players and their careers,
// matches and their reports, and a match's darts as CSV. The figures come
// from the archive; the darts of a match being played from its board's own
// record, and those of a match that is over from its journal rows, played
// again once and kept (KeptReports); the counts of the matches being played
// from their boards. Each is a plain function from what the address names
// to the answer; a read the database cannot take is answered 503, one that
// meets a match whose counts cannot be rebuilt 500 damaged_match. They read
// the archive, so the server runs them on its ReadQueue, never on the
// threads that serve the boards.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "accuracies.h"
#include "answers.h"
#include "archive_reader.h"
#include "board.h"
#include "kept_reports.h"
#include "match_record.h"
#include "server_limits.h"

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
    // GET /api/matches/ID: a match's report (404 for none), with an entity
    // tag that changes whenever the report may; 304 without a body when
    // `if_none_match` (the request's If-None-Match) lists it.
    Response match(std::string_view id, std::string_view if_none_match, unsigned version) const;
    // GET /api/matches/ID/darts.csv: every dart of a match (404 for none).
    Response dartsCsv(std::string_view id, unsigned version) const;

private:
    // Where a match's darts are: the board's display while the board plays
    // the match (`display`), or the journal's rows once it is over (`over`);
    // neither for a match newer than what its board shows, whose start is
    // durable and not yet shown.
    struct Source {
        std::shared_ptr<const Display> display;
        std::uint64_t event_id = 0;  // the board's last event as it shows it
        bool over = false;
    };

    // Answers a read of the archive with `answer`, or 503 when it throws.
    template <typename Answer>
    Response read(unsigned version, const Answer& answer) const;
    // Returns the archive's entry of the match `id` names, if any.
    std::optional<archive::MatchEntry> entryOf(std::string_view id) const;
    // Returns where the darts of the match of `entry` are read from.
    Source sourceOf(const archive::MatchEntry& entry) const;
    // Returns what is kept of the match, made now from its journal rows
    // when nothing is (or its file of darts names its players otherwise),
    // and kept when the match is over and `keep`.
    std::shared_ptr<const KeptReport> kept(const archive::MatchEntry& entry, const Source& source,
                                           bool keep) const;
    // Returns the lines of the file of darts of a match, without a header.
    std::string csvRows(const archive::MatchEntry& entry, const Source& source, bool keep) const;
    // The boards' counts of the matches they are playing.
    LiveCounts live() const;

    ArchiveReader& reader_;
    const Boards& boards_;
    Accuracies& accuracies_;
    mutable KeptReports kept_{kMaxKeptReports, kMaxKeptReportBytes};
};

}  // namespace game501::server
