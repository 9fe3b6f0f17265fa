#include "match_follower.h"

#include <utility>

#include "parsing.h"

namespace game501::server {

void addBoardFacts(Game501::json& standing, const MatchFacts& facts) {
    standing["id"] = facts.start_event == 0
                         ? Game501::json(nullptr)
                         : Game501::json(matchId(facts.board, facts.start_event));
    for (std::size_t player = 0; player < standing["players"].size(); ++player) {
        const bool computer = player < facts.levels.size() && facts.levels[player];
        standing["players"][player]["computer"] =
            computer ? computerLevelJson(*facts.levels[player]) : Game501::json(nullptr);
    }
    if (facts.competition != 0) {
        standing["competition"] = {{"id", facts.competition}, {"match", facts.competition_match}};
    }
}

MatchFollower::MatchFollower(int board)
    : board_(board), facts_(std::make_shared<const MatchFacts>(MatchFacts{board, 0, {}})) {}

void MatchFollower::clear() {
    facts_ = std::make_shared<const MatchFacts>(MatchFacts{board_, 0, {}});
    computers_.clear();
}

void MatchFollower::follow(const JournalRow& row) {
    if (!beginsGame(row)) {
        return;
    }
    const bool start = row.command.kind == Command::Kind::start;
    MatchFacts facts{board_, start ? row.event_id : 0, {}};
    if (start) {
        facts.competition = row.command.competition;
        facts.competition_match = row.command.competition_match;
    }
    started_ = start ? row.time : 0;
    for (const std::string& level : row.command.computers) {
        facts.levels.push_back(parseComputerLevel(level));
    }
    computers_ = seatComputers(facts.levels, row.command.seed);
    facts_ = std::make_shared<const MatchFacts>(std::move(facts));
}

void MatchFollower::rebuilt(GameStatus status) {
    status_ = status;
    archived_status_ = startEvent() == 0 ? "" : statusName(status_);
}

std::optional<archive::MatchEntry> MatchFollower::abandonedBy(Command::Kind kind,
                                                              const Match& match,
                                                              std::int64_t time) const {
    if (startEvent() == 0 || status_ == GameStatus::finished ||
        (kind != Command::Kind::start && kind != Command::Kind::reset)) {
        return std::nullopt;
    }
    archive::MatchEntry abandoned = entry(match, match.standing(), time);
    abandoned.status = "abandoned";
    return abandoned;
}

void MatchFollower::addMatchUpdates(JournalRow& row, std::optional<archive::MatchEntry> abandoned,
                                    const Match& match) {
    const Match::Standing standing = match.standing();
    status_ = standing.status;
    if (abandoned && beginsGame(row)) {
        row.match_updates.push_back(std::move(*abandoned));
    }
    if (startEvent() == 0) {
        archived_status_.clear();
        return;
    }
    const bool begins = row.accepted && row.command.kind == Command::Kind::start;
    if (!begins && statusName(status_) == archived_status_) {
        return;
    }
    archive::MatchEntry update = entry(match, standing, row.time);
    update.begins = begins;
    archived_status_ = update.status;
    row.match_updates.push_back(std::move(update));
}

archive::MatchEntry MatchFollower::entry(const Match& match, const Match::Standing& standing,
                                         std::int64_t time) const {
    std::vector<bool> computers;
    for (const std::optional<ComputerLevel>& level : facts_->levels) {
        computers.push_back(level.has_value());
    }
    return archive::MatchEntry{board_,
                               startEvent(),
                               started_,
                               time,
                               match.format().legs,
                               match.format().sets,
                               statusName(standing.status),
                               standing.winner,
                               match.players(),
                               match.figures().match,
                               false,
                               std::move(computers),
                               {},
                               false};
}

}  // namespace game501::server
