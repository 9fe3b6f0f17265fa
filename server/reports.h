// The answers about what has been played: players and their careers,
// matches and their reports, and a match's darts as CSV. All of it is read
// from the journal's database: the archive for figures, the journal rows
// for the darts themselves.
#pragma once

#include <string_view>

#include "answers.h"
#include "archive.h"
#include "board.h"
#include "journal.h"

namespace game501::server {

class Reports {
public:
    Reports(Journal& journal, const Boards& boards) : journal_(journal), boards_(boards) {}

    // Answers a read below /api/players or /api/matches (`path` without its
    // query), or returns nothing when the path is not one of those.
    std::optional<Response> answer(const Request& request, std::string_view path) const;

private:
    Response players(unsigned version) const;
    Response player(const std::string& name, unsigned version) const;
    Response matches(std::string_view query, unsigned version) const;
    Response match(const std::string& id, bool csv, unsigned version) const;
    // The boards' counts of the matches they are playing.
    archive::Live live() const;

    Journal& journal_;
    const Boards& boards_;
};

}  // namespace game501::server
