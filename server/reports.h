// The answers about what has been played: players and their careers,
// matches and their reports, and a match's darts as CSV. All of it is read
// from the journal's database: the archive for figures, the journal rows
// for the darts themselves.
#pragma once

#include <string_view>

#include "answers.h"
#include "journal.h"

namespace game501_server {

class Reports {
public:
    explicit Reports(Journal& journal) : journal_(journal) {}

    // Answers a read below /api/players or /api/matches (`path` without its
    // query), or returns nothing when the path is not one of those.
    std::optional<Response> answer(const Request& request, std::string_view path) const;

private:
    Response players(unsigned version) const;
    Response player(const std::string& name, unsigned version) const;
    Response matches(std::string_view query, unsigned version) const;
    Response match(const std::string& id, bool csv, unsigned version) const;

    Journal& journal_;
};

}  // namespace game501_server
