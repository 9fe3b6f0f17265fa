#include "board.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <tuple>
#include <utility>

#include "front_end.h"
#include "server_limits.h"
#include "tokens.h"

namespace game501::server {

namespace {

std::int64_t wallClockMillis() {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    using std::chrono::system_clock;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string eventText(std::uint64_t id, std::string_view kind, const std::string& data) {
    std::string text;
    text.reserve(data.size() + 48);
    text.append("id: ").append(std::to_string(id));
    text.append("\nevent: ").append(kind);
    text.append("\ndata: ").append(data).append("\n\n");
    return text;
}

Game501::json run(Match501& match, const Command& command) {
    switch (command.kind) {
        case Command::Kind::start:
            return match.start(command.players, Match501::Format{command.legs, command.sets});
        case Command::Kind::dart:
            return match.addDart(command.notation, command.source);
        case Command::Kind::undo:
            return match.undo();
        case Command::Kind::clear:
            return match.markBoardClear();
        case Command::Kind::reset:
            break;
    }
    return match.reset();
}

// The match document: the standing with the leg's state document.
Game501::json matchDocument(Game501::json standing, const Game501::json& state) {
    standing["game"] = state;
    return standing;
}

// Whether a row begins a game anew, so that the rows before it are no
// longer needed to rebuild the board.
bool beginsGame(const JournalRow& row) {
    return row.accepted &&
           (row.command.kind == Command::Kind::start || row.command.kind == Command::Kind::reset);
}

}  // namespace

Replay::Replay(const std::vector<JournalRow>& rows) : match_([this] { return time_; }) {
    for (const JournalRow& row : rows) {
        time_ = row.time;
        last_response_ = run(match_, row.command);
    }
}

bool Precondition::holdsAfter(std::uint64_t last_event_id) const {
    return any || std::find(event_ids.begin(), event_ids.end(), last_event_id) != event_ids.end();
}

std::uint64_t RecentKeys::hash(std::string_view key) {
    // FNV-1a: stable from run to run, and a hit is confirmed against the row.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : key) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return hash;
}

std::vector<std::uint64_t> RecentKeys::candidates(std::string_view key) const {
    const std::uint64_t wanted = hash(key);
    std::vector<std::uint64_t> found;
    for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
        if (entry->hash == wanted) {
            found.push_back(entry->event_id);
        }
    }
    return found;
}

void RecentKeys::add(std::string_view key, std::uint64_t event_id) {
    entries_.push_back(Entry{hash(key), event_id});
    if (entries_.size() > capacity_) {
        entries_.pop_front();
    }
}

void RecentKeys::forgetAfter(std::uint64_t event_id) {
    while (!entries_.empty() && entries_.back().event_id > event_id) {
        entries_.pop_back();
    }
}

Board::Board(int number, std::string token, Journal& journal)
    : number_(number),
      token_(std::move(token)),
      journal_(journal),
      match_(std::make_unique<Match501>([this] { return call_time_; })),
      keys_(kRememberedKeysPerBoard),
      durable_state_(match_->state()),
      durable_standing_(standingLocked()),
      durable_figures_(match_->standingAndFigures().second) {}

bool Board::acceptsToken(std::string_view token) const { return tokensEqual(token, token_); }

void Board::restore() {
    const std::lock_guard<std::mutex> lock(mutex_);
    durable_game_ = journal_.currentGame(number_);
    rebuildLocked(durable_game_);
    durable_event_id_ = journal_.lastEventId(number_);
    last_event_id_ = durable_event_id_;
    durable_state_ = match_->state();
    durable_standing_ = standingLocked();
    durable_figures_ = match_->standingAndFigures().second;
    for (const auto& [event_id, key] : journal_.recentKeys(number_, kRememberedKeysPerBoard)) {
        keys_.add(key, event_id);
    }
}

Game501::json Board::runLocked(const Command& command, std::int64_t time) {
    call_time_ = time;
    return run(*match_, command);
}

void Board::rebuildLocked(const std::vector<JournalRow>& rows) {
    match_ = std::make_unique<Match501>([this] { return call_time_; });
    match_start_event_ = 0;
    computers_.clear();
    computer_levels_.clear();
    for (const JournalRow& row : rows) {
        runLocked(row.command, row.time);
        followMatchLocked(row);
    }
    match_status_ = match_->standingAndFigures().first["status"].get<std::string>();
    // What the archive holds: each status change was written with its row.
    archived_status_ = match_start_event_ == 0 ? "" : match_status_;
}

void Board::followMatchLocked(const JournalRow& row) {
    if (!beginsGame(row)) {
        return;
    }
    const bool start = row.command.kind == Command::Kind::start;
    match_start_event_ = start ? row.event_id : 0;
    match_started_ = start ? row.time : 0;
    computers_.clear();
    computer_levels_.clear();
    for (std::size_t player = 0; player < row.command.computers.size(); ++player) {
        std::optional<ComputerLevel> level = parseComputerLevel(row.command.computers[player]);
        // Nearby seeds give unrelated darts: each computer has its own.
        computers_.push_back(
            level ? std::optional<ComputerThrower>(std::in_place, *level, row.command.seed + player)
                  : std::nullopt);
        computer_levels_.push_back(std::move(level));
    }
}

std::pair<Game501::json, Match501::Figures> Board::standingAndFiguresLocked() const {
    std::pair<Game501::json, Match501::Figures> both = match_->standingAndFigures();
    addBoardFactsLocked(both.first);
    return both;
}

Game501::json Board::standingLocked() const {
    Game501::json standing = match_->standingAndFigures().first;
    addBoardFactsLocked(standing);
    return standing;
}

void Board::addBoardFactsLocked(Game501::json& standing) const {
    // Where its report is, /matches/ID, once it is in the archive.
    standing["id"] = match_start_event_ == 0
                         ? Game501::json(nullptr)
                         : Game501::json(archive::matchId(number_, match_start_event_));
    for (std::size_t player = 0; player < standing["players"].size(); ++player) {
        const bool computer = player < computer_levels_.size() && computer_levels_[player];
        standing["players"][player]["computer"] =
            computer ? computerLevelJson(*computer_levels_[player]) : Game501::json(nullptr);
    }
}

void Board::onDurable(std::function<void(std::uint64_t)> listener) {
    const std::lock_guard<std::mutex> lock(mutex_);
    durable_listener_ = std::move(listener);
}

std::optional<Write> Board::computerMove(std::uint64_t event_id) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (event_id != last_event_id_ || computers_.empty()) {
        return std::nullopt;
    }
    const ComputerMove next =
        nextComputerMove(match_->state(), match_->standingAndFigures().first, computers_);
    Write move{Command{}, "", Precondition{false, {event_id}}};
    if (next.kind == ComputerMove::Kind::none) {
        return std::nullopt;
    }
    move.command.kind =
        next.kind == ComputerMove::Kind::dart ? Command::Kind::dart : Command::Kind::clear;
    move.command.notation = next.dart.notation;
    move.command.source = next.kind == ComputerMove::Kind::dart ? kComputerSource : "";
    return move;
}

archive::MatchEntry Board::matchEntryLocked(std::int64_t time) const {
    const auto [standing, figures] = match_->standingAndFigures();
    const Match501::Format format = match_->format();
    return archive::MatchEntry{number_,
                               match_start_event_,
                               match_started_,
                               time,
                               format.legs,
                               format.sets,
                               standing["status"].get<std::string>(),
                               standing["winner"].get<int>(),
                               match_->players(),
                               figures.match,
                               false};
}

void Board::archiveLocked(JournalRow& row) {
    // The archive is written only as a match begins and as its status
    // changes; while it is played, its figures are the board's own.
    const bool begins = row.accepted && row.command.kind == Command::Kind::start;
    if (match_start_event_ == 0 || (!begins && match_status_ == archived_status_)) {
        archived_status_ = match_start_event_ == 0 ? "" : archived_status_;
        return;
    }
    archive::MatchEntry entry = matchEntryLocked(row.time);
    entry.begins = begins;
    archived_status_ = entry.status;
    row.archive.push_back(std::move(entry));
}

void Board::apply(Write write, Done done) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!write.idempotency_key.empty()) {
        std::optional<JournalRow> earlier;
        try {
            earlier = earlierWriteLocked(write.idempotency_key);
        } catch (const std::exception&) {
            lock.unlock();
            return done(WriteResult{WriteResult::Outcome::storage_unavailable, {}});
        }
        if (earlier && earlier->command != write.command) {
            lock.unlock();
            return done(WriteResult{WriteResult::Outcome::key_reused, {}});
        }
        if (earlier) {
            return answerRetryLocked(*earlier, lock, std::move(done));
        }
    }
    if (write.precondition && !write.precondition->holdsAfter(last_event_id_)) {
        const Document current{"", last_event_id_};
        lock.unlock();
        return done(WriteResult{WriteResult::Outcome::precondition_failed, current});
    }

    const std::int64_t time = wallClockMillis();
    // A start or a reset ends the match being played: its entry is taken
    // while it is still there.
    std::optional<archive::MatchEntry> ended;
    if (match_start_event_ != 0 && match_status_ != "finished" &&
        (write.command.kind == Command::Kind::start ||
         write.command.kind == Command::Kind::reset)) {
        ended = matchEntryLocked(time);
        ended->status = "abandoned";
    }
    Game501::json response = runLocked(write.command, time);
    ++last_event_id_;
    std::string response_json = serialise(response);
    JournalRow row{number_,
                   last_event_id_,
                   time,
                   write.command,
                   write.idempotency_key,
                   response["accepted"].get<bool>(),
                   {}};
    if (!write.idempotency_key.empty()) {
        keys_.add(write.idempotency_key, last_event_id_);
    }
    followMatchLocked(row);
    const std::uint64_t ticket = ++tickets_;
    pending_.push_back(
        Pending{ticket, row, std::move(response_json), std::move(response["game"]), {}, {}, {}});
    std::tie(pending_.back().standing, pending_.back().figures) = standingAndFiguresLocked();
    pending_.back().waiters.push_back(std::move(done));
    pending_.back().row = row;
    // Only the journal's copy carries what the row changes in the archive.
    match_status_ = pending_.back().standing["status"].get<std::string>();
    if (ended && beginsGame(row)) {
        row.archive.push_back(std::move(*ended));
    }
    archiveLocked(row);
    journal_.append(std::move(row), [this, ticket](bool durable) { complete(ticket, durable); });
}

std::optional<JournalRow> Board::earlierWriteLocked(const std::string& key) {
    for (const std::uint64_t event_id : keys_.candidates(key)) {
        std::optional<JournalRow> row;
        if (event_id > durable_event_id_) {
            for (const Pending& pending : pending_) {
                if (pending.row.event_id == event_id) {
                    row = pending.row;
                }
            }
        } else {
            row = journal_.row(number_, event_id);
        }
        // Another key with the same hash is passed over.
        if (row && row->idempotency_key == key) {
            return row;
        }
    }
    return std::nullopt;
}

void Board::answerRetryLocked(const JournalRow& row, std::unique_lock<std::mutex>& lock,
                              Done done) {
    if (row.event_id > durable_event_id_) {
        for (Pending& pending : pending_) {
            if (pending.row.event_id == row.event_id) {
                pending.waiters.push_back(std::move(done));
                return;
            }
        }
    }
    if (last_answer_ && last_answer_->event_id == row.event_id) {
        const Document answer = *last_answer_;
        lock.unlock();
        return done(WriteResult{WriteResult::Outcome::applied, answer});
    }
    // An older answer is made again: the game as it was, replayed with the
    // times it was played with, up to that write.
    std::vector<JournalRow> rows;
    try {
        if (!durable_game_.empty() && durable_game_.front().event_id <= row.event_id) {
            for (const JournalRow& kept : durable_game_) {
                if (kept.event_id <= row.event_id) {
                    rows.push_back(kept);
                }
            }
        } else {
            rows = journal_.gameThrough(number_, row.event_id);
        }
    } catch (const std::exception&) {
        lock.unlock();
        return done(WriteResult{WriteResult::Outcome::storage_unavailable, {}});
    }
    lock.unlock();
    const Replay replay(rows);
    done(WriteResult{WriteResult::Outcome::applied,
                     Document{serialise(replay.lastResponse()), row.event_id}});
}

void Board::complete(std::uint64_t ticket, bool durable) {
    std::vector<Done> waiters;
    WriteResult result;
    std::function<void(std::uint64_t)> listener;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (pending_.empty() || pending_.front().ticket != ticket) {
            return;  // undone already, with a write before it that failed
        }
        if (durable) {
            Pending written = std::move(pending_.front());
            pending_.pop_front();
            if (beginsGame(written.row)) {
                durable_game_.clear();
            }
            publishLocked(written);
            durable_event_id_ = written.row.event_id;
            durable_game_.push_back(std::move(written.row));
            last_answer_ = Document{std::move(written.response_json), durable_event_id_};
            durable_state_ = std::move(written.state);
            durable_standing_ = std::move(written.standing);
            durable_figures_ = std::move(written.figures);
            waiters = std::move(written.waiters);
            result = WriteResult{WriteResult::Outcome::applied, *last_answer_};
            // Only a match with a computer has moves to wait for.
            if (!computers_.empty()) {
                listener = durable_listener_;
            }
        } else {
            // Every write after the last durable one rests on this one.
            for (Pending& pending : pending_) {
                std::move(pending.waiters.begin(), pending.waiters.end(),
                          std::back_inserter(waiters));
            }
            pending_.clear();
            keys_.forgetAfter(durable_event_id_);
            rebuildLocked(durable_game_);
            last_event_id_ = durable_event_id_;
            result = WriteResult{WriteResult::Outcome::storage_unavailable,
                                 Document{"", durable_event_id_}};
        }
    }
    for (const Done& waiter : waiters) {
        waiter(result);
    }
    if (listener) {
        listener(result.document.event_id);
    }
}

Document Board::state() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return Document{serialise(durable_state_), durable_event_id_};
}

std::optional<std::pair<std::uint64_t, std::vector<statistics::Counts>>> Board::liveMatch() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::optional<std::pair<int, std::uint64_t>> id =
        durable_standing_["id"].is_string()
            ? archive::parseMatchId(durable_standing_["id"].get<std::string>())
            : std::nullopt;
    if (!id) {
        return std::nullopt;
    }
    return std::make_pair(id->second, durable_figures_.match);
}

Document Board::match() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return Document{
        serialise(matchDocument(Match501::withFigures(durable_standing_, durable_figures_),
                                durable_state_)),
        durable_event_id_};
}

Game501::json Board::summary() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    // The leg's players stand in its throwing order; the list keeps the
    // match's starting order.
    const Game501::json& order = durable_standing_["throwing_order"];
    Game501::json players = Game501::json::array();
    for (const Game501::json& player : durable_standing_["players"]) {
        const auto index = static_cast<int>(players.size());
        const auto position = std::find(order.begin(), order.end(), index) - order.begin();
        const Game501::json& in_leg = durable_state_["players"][static_cast<std::size_t>(position)];
        players.push_back({{"legs", player["legs"]},
                           {"name", player["name"]},
                           {"score", in_leg["score"]},
                           {"sets", player["sets"]}});
    }
    return {{"board", number_},
            {"format", durable_standing_["format"]},
            {"players", std::move(players)},
            {"status", durable_standing_["status"]}};
}

EventText Board::subscribe(const std::shared_ptr<EventQueue>& viewer) {
    const std::lock_guard<std::mutex> lock(mutex_);
    forgetClosedViewersLocked();
    // The data's members are written in key order, as the engine writes its
    // documents.
    const std::string data =
        "{\"board\":" + std::to_string(number_) +
        ",\"checkout\":" + serialise(front_end::checkoutFor(durable_state_)) +
        ",\"match\":" + serialise(Match501::withFigures(durable_standing_, durable_figures_)) +
        ",\"state\":" + serialise(durable_state_) + "}";
    viewers_.push_back(viewer);
    return std::make_shared<const std::string>("retry: 1000\n" +
                                               eventText(durable_event_id_, "state", data));
}

void Board::publishLocked(const Pending& written) {
    forgetClosedViewersLocked();
    if (viewers_.empty()) {
        return;
    }
    // Serialised once, whatever the number of viewers; the response is
    // embedded as the answer carries it.
    const std::string data =
        "{\"board\":" + std::to_string(number_) +
        ",\"checkout\":" + serialise(front_end::checkoutFor(written.state)) +
        ",\"match\":" + serialise(Match501::withFigures(written.standing, written.figures)) +
        ",\"operation\":\"" + std::string(actionOf(written.row.command.kind).operation) +
        "\",\"response\":" + written.response_json + "}";
    const EventText event =
        std::make_shared<const std::string>(eventText(written.row.event_id, "update", data));
    for (const std::weak_ptr<EventQueue>& viewer : viewers_) {
        if (const std::shared_ptr<EventQueue> queue = viewer.lock()) {
            queue->push(event);
        }
    }
}

void Board::forgetClosedViewersLocked() {
    viewers_.erase(std::remove_if(viewers_.begin(), viewers_.end(),
                                  [](const std::weak_ptr<EventQueue>& viewer) {
                                      const std::shared_ptr<EventQueue> queue = viewer.lock();
                                      return !queue || queue->closed();
                                  }),
                   viewers_.end());
}

std::string serialise(const Game501::json& document) {
    return document.dump(-1, ' ', false, Game501::json::error_handler_t::replace);
}

}  // namespace game501::server
