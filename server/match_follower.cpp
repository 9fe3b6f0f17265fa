#include "match_follower.h"

#include <utility>

#include "parsing.h"

namespace game501::server {

void MatchFollower::clear() {
    start_event_ = 0;
    computers_.clear();
    levels_.clear();
}

void MatchFollower::follow(const JournalRow& row) {
    if (!beginsGame(row)) {
        return;
    }
    const bool start = row.command.kind == Command::Kind::start;
    start_event_ = start ? row.event_id : 0;
    started_ = start ? row.time : 0;
    computers_.clear();
    levels_.clear();
    for (std::size_t player = 0; player < row.command.computers.size(); ++player) {
        std::optional<ComputerLevel> level = parseComputerLevel(row.command.computers[player]);
        // Nearby seeds give unrelated darts: each computer has its own.
        computers_.push_back(
            level ? std::optional<ComputerThrower>(std::in_place, *level, row.command.seed + player)
                  : std::nullopt);
        levels_.push_back(std::move(level));
    }
}

void MatchFollower::rebuilt(const std::string& status) {
    status_ = status;
    archived_status_ = start_event_ == 0 ? "" : status_;
}

std::optional<archive::MatchEntry> MatchFollower::abandonedBy(Command::Kind kind,
                                                              const Match501& match,
                                                              std::int64_t time) const {
    if (start_event_ == 0 || status_ == "finished" ||
        (kind != Command::Kind::start && kind != Command::Kind::reset)) {
        return std::nullopt;
    }
    const auto [standing, figures] = match.standingAndFigures();
    archive::MatchEntry abandoned = entry(match, standing, figures, time);
    abandoned.status = "abandoned";
    return abandoned;
}

void MatchFollower::addMatchUpdates(JournalRow& row, std::optional<archive::MatchEntry> abandoned,
                                    const Match501& match, const Game501::json& standing,
                                    const Match501::Figures& figures) {
    status_ = standing["status"].get<std::string>();
    if (abandoned && beginsGame(row)) {
        row.match_updates.push_back(std::move(*abandoned));
    }
    if (start_event_ == 0) {
        archived_status_.clear();
        return;
    }
    const bool begins = row.accepted && row.command.kind == Command::Kind::start;
    if (!begins && status_ == archived_status_) {
        return;
    }
    archive::MatchEntry update = entry(match, standing, figures, row.time);
    update.begins = begins;
    archived_status_ = update.status;
    row.match_updates.push_back(std::move(update));
}

void MatchFollower::addBoardFacts(Game501::json& standing) const {
    // Where its report is, /matches/ID, once it is in the archive.
    standing["id"] =
        start_event_ == 0 ? Game501::json(nullptr) : Game501::json(matchId(board_, start_event_));
    for (std::size_t player = 0; player < standing["players"].size(); ++player) {
        const bool computer = player < levels_.size() && levels_[player];
        standing["players"][player]["computer"] =
            computer ? computerLevelJson(*levels_[player]) : Game501::json(nullptr);
    }
}

archive::MatchEntry MatchFollower::entry(const Match501& match, const Game501::json& standing,
                                         const Match501::Figures& figures,
                                         std::int64_t time) const {
    const Match501::Format format = match.format();
    std::vector<bool> computers;
    for (const std::optional<ComputerLevel>& level : levels_) {
        computers.push_back(level.has_value());
    }
    return archive::MatchEntry{board_,
                               start_event_,
                               started_,
                               time,
                               format.legs,
                               format.sets,
                               standing["status"].get<std::string>(),
                               standing["winner"].get<int>(),
                               match.players(),
                               figures.match,
                               false,
                               std::move(computers),
                               {},
                               false};
}

}  // namespace game501::server
