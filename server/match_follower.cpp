#include "match_follower.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <utility>

#include "accuracy.h"
#include "parsing.h"

namespace game501::server {

namespace {

constexpr std::string_view kLikePrefix = "like:";

// Returns the sigma and the member of likeLevel's text, if it is one.
std::optional<std::pair<double, std::string>> readLike(std::string_view text) {
    if (text.substr(0, kLikePrefix.size()) != kLikePrefix) {
        return std::nullopt;
    }
    text.remove_prefix(kLikePrefix.size());
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    double sigma = 0.0;
    const std::from_chars_result read = std::from_chars(text.data(), text.data() + colon, sigma);
    if (read.ec != std::errc() || read.ptr != text.data() + colon || !std::isfinite(sigma) ||
        sigma <= 0.0 || sigma > accuracy::kMostSigmaMm) {
        return std::nullopt;
    }
    return std::make_pair(sigma, std::string(text.substr(colon + 1)));
}

}  // namespace

std::optional<ComputerLevel> seatLevel(std::string_view text) {
    if (const std::optional<std::pair<double, std::string>> like = readLike(text)) {
        return ComputerLevel{std::string(text), "Som " + like->second, 0, like->first};
    }
    return parseComputerLevel(text);
}

std::string likeLevel(double sigma_mm, const std::string& member) {
    char sigma[32];
    std::snprintf(sigma, sizeof sigma, "%.1f", sigma_mm);
    return std::string(kLikePrefix) + sigma + ":" + member;
}

void addBoardFacts(Game501::json& standing, const MatchFacts& facts) {
    standing["id"] = facts.start_event == 0
                         ? Game501::json(nullptr)
                         : Game501::json(matchId(facts.board, facts.start_event));
    for (std::size_t player = 0; player < standing["players"].size(); ++player) {
        const bool computer = player < facts.levels.size() && facts.levels[player];
        Game501::json level = nullptr;
        if (computer) {
            const std::optional<std::pair<double, std::string>> like =
                readLike(facts.levels[player]->id);
            level = like ? Game501::json{{"like", like->second}, {"sigma_mm", like->first}}
                         : computerLevelJson(*facts.levels[player]);
        }
        standing["players"][player]["computer"] = std::move(level);
    }
    if (facts.competition != 0) {
        standing["competition"] = {{"id", facts.competition}, {"match", facts.competition_match}};
    }
}

std::vector<std::optional<ComputerLevel>> computerLevels(
    const std::vector<std::string>& computers) {
    std::vector<std::optional<ComputerLevel>> levels;
    for (const std::string& level : computers) {
        levels.push_back(seatLevel(level));
    }
    return levels;
}

MatchFollower::MatchFollower(int board, const Accuracies& accuracies)
    : board_(board),
      accuracies_(accuracies),
      facts_(std::make_shared<const MatchFacts>(MatchFacts{board, 0, {}, {}})) {}

void MatchFollower::clear() {
    facts_ = std::make_shared<const MatchFacts>(MatchFacts{board_, 0, {}, {}});
    computers_.clear();
}

void MatchFollower::follow(const JournalRow& row) {
    if (!beginsGame(row)) {
        return;
    }
    const bool start = row.command.kind == Command::Kind::start;
    MatchFacts facts{board_, start ? row.event_id : 0, computerLevels(row.command.computers), {}};
    if (start) {
        facts.competition = row.command.competition;
        facts.competition_match = row.command.competition_match;
    }
    started_ = start ? row.time : 0;
    if (start) {
        facts.accuracies = playerAccuracies(row.command.players, facts.levels, accuracies_);
    }
    computers_ = seatComputers(facts.levels, row.command.seed);
    facts_ = std::make_shared<const MatchFacts>(std::move(facts));
}

void MatchFollower::rebuilt(GameStatus status) {
    status_ = status;
    archived_status_ = startEvent() == 0 ? "" : statusName(status_);
}

std::optional<MatchFollower::Abandoned> MatchFollower::abandonedBy(Command::Kind kind,
                                                                   const Match& match,
                                                                   std::int64_t time) const {
    if (startEvent() == 0 || status_ == GameStatus::finished ||
        (kind != Command::Kind::start && kind != Command::Kind::reset)) {
        return std::nullopt;
    }
    Abandoned abandoned{entry(match, match.standing(), time),
                        std::make_shared<const std::vector<LegRecord>>(match.legs())};
    abandoned.entry.status = "abandoned";
    return abandoned;
}

void MatchFollower::addMatchUpdates(JournalRow& row, std::optional<Abandoned> abandoned,
                                    const Match& match) {
    const Match::Standing standing = match.standing();
    status_ = standing.status;
    if (abandoned && beginsGame(row)) {
        row.match_updates.push_back(std::move(abandoned->entry));
        row.ended_legs = std::move(abandoned->legs);
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
    if (status_ == GameStatus::finished) {
        row.ended_legs = std::make_shared<const std::vector<LegRecord>>(match.legs());
    }
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
