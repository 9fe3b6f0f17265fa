#include "board.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <iterator>
#include <utility>

#include "answers.h"
#include "replay.h"
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

}  // namespace

Board::Board(int number, std::string token, Journal& journal)
    : number_(number),
      token_(std::move(token)),
      journal_(journal),
      view_(number),
      match_([this] { return engineTime(); }),
      follower_(number, journal.accuracies()),
      keys_(kRememberedKeysPerBoard) {
    const MutexLock lock(mutex_);
    display_ = Display::of(match_, follower_.facts(), journal_.accuracies(), nullptr);
    view_.restore(Snapshot{last_event_id_, display_});
    durable_ = Settled{number_, 0, display_, true};
}

bool Board::acceptsToken(std::string_view token) const { return tokensEqual(token, token_); }

void Board::restore() {
    const MutexLock lock(mutex_);
    restoreLocked();
}

void Board::reload() {
    std::function<void(std::uint64_t)> listener;
    std::uint64_t event_id = 0;
    {
        const MutexLock lock(mutex_);
        if (!pending_.empty()) {
            return;
        }
        try {
            restoreLocked();
        } catch (const std::exception&) {
            out_of_step_ = true;  // tried again before the next write
            return;
        }
        // A computer whose move was in the commit that failed moves again.
        if (!follower_.computers().empty()) {
            listener = durable_listener_;
            event_id = last_event_id_;
        }
    }
    if (listener) {
        listener(event_id);
    }
}

void Board::restoreLocked() {
    const std::uint64_t last = journal_.lastEventId(number_);
    const std::vector<std::pair<std::uint64_t, std::string>> keys =
        journal_.recentKeys(number_, kRememberedKeysPerBoard);
    rebuildLocked();
    durable_event_id_ = last;
    last_event_id_ = last;
    last_answer_.reset();
    keys_.forgetAfter(0);
    for (const auto& [event_id, key] : keys) {
        keys_.add(key, event_id);
    }
    out_of_step_ = false;
    view_.restore(Snapshot{last_event_id_, display_});
    durable_ = Settled{number_, last_event_id_, display_, freeLocked()};
}

void Board::rebuildLocked() {
    const std::vector<JournalRow> rows = journal_.currentGame(number_);
    match_ = Match([this] { return engineTime(); });
    follower_.clear();
    cleared_ = false;
    for (const JournalRow& row : rows) {
        call_time_ = row.time;
        const Answer answer = runCommand(match_, row.command);
        followClearLocked(row.command, answer.accepted);
        follower_.follow(row);
    }
    follower_.rebuilt(match_.standing().status);
    // What the board held before may be ahead of the journal: nothing of it is shared.
    display_ = Display::of(match_, follower_.facts(), journal_.accuracies(), nullptr);
}

void Board::followClearLocked(const Command& command, bool accepted) {
    if (accepted) {
        cleared_ = command.kind == Command::Kind::clear &&
                   match_.standing().status == GameStatus::finished;
    }
}

bool Board::freeLocked() const {
    const GameStatus status = match_.standing().status;
    const std::vector<std::optional<ComputerThrower>>& computers = follower_.computers();
    const bool computers_alone =
        !computers.empty() &&
        std::all_of(computers.begin(), computers.end(),
                    [](const std::optional<ComputerThrower>& seat) { return seat.has_value(); });
    return status == GameStatus::idle ||
           (status == GameStatus::finished && (cleared_ || computers_alone));
}

void Board::onSettled(std::function<void(const Settled&)> listener) {
    const MutexLock lock(mutex_);
    settled_listener_ = std::move(listener);
}

Settled Board::settled() const {
    const MutexLock lock(mutex_);
    return durable_;
}

void Board::onDurable(std::function<void(std::uint64_t)> listener) {
    const MutexLock lock(mutex_);
    durable_listener_ = std::move(listener);
}

std::optional<Write> Board::computerMove(std::uint64_t event_id) {
    const MutexLock lock(mutex_);
    if (event_id != last_event_id_ || follower_.computers().empty()) {
        return std::nullopt;
    }
    const ComputerMove next = nextComputerMove(match_, follower_.computers());
    if (next.kind == ComputerMove::Kind::none) {
        return std::nullopt;
    }
    Write move{Command{}, "", Precondition{false, {event_id}}};
    move.command.kind =
        next.kind == ComputerMove::Kind::dart ? Command::Kind::dart : Command::Kind::clear;
    move.command.notation = next.dart.notation;
    move.command.source = next.kind == ComputerMove::Kind::dart ? kComputerSource : "";
    return move;
}

void Board::apply(Write write, Done done) {
    Outcome outcome;
    std::vector<Retired> retired;
    {
        const MutexLock lock(mutex_);
        retired.swap(retired_);
        outcome = applyLocked(write, done);
    }
    retired.clear();
    if (WriteResult* result = std::get_if<WriteResult>(&outcome)) {
        done(std::move(*result));
    } else if (const Rerun* rerun = std::get_if<Rerun>(&outcome)) {
        // An older answer is made again: the game as it was, replayed with
        // the times it was played with, up to that write. The write is
        // durable, so its rows are read outside the board's lock.
        std::vector<JournalRow> rows;
        try {
            rows = journal_.gameThrough(number_, rerun->event_id);
        } catch (const std::exception&) {
            done(WriteResult{WriteResult::Outcome::storage_unavailable, {}});
            return;
        }
        const Replay replay(rows);
        done(WriteResult{
            WriteResult::Outcome::applied,
            Document{shareText(Game501::responseText(replay.lastAnswer(),
                                                     Game501::stateText(replay.match().leg()))),
                     rerun->event_id}});
    }
}

Board::Outcome Board::applyLocked(Write& write, Done& done) {
    // A retry too: the journal's rows are not known to be durable now.
    if (!journal_.takingWrites()) {
        return WriteResult{WriteResult::Outcome::storage_unavailable, {}};
    }
    if (out_of_step_) {
        try {
            restoreLocked();
        } catch (const std::exception&) {
            return WriteResult{WriteResult::Outcome::storage_unavailable, {}};
        }
    }
    if (!write.idempotency_key.empty()) {
        std::optional<JournalRow> earlier;
        try {
            earlier = earlierWriteLocked(write.idempotency_key);
        } catch (const std::exception&) {
            return WriteResult{WriteResult::Outcome::storage_unavailable, {}};
        }
        if (earlier && earlier->command != write.command) {
            return WriteResult{WriteResult::Outcome::key_reused, {}};
        }
        if (earlier) {
            return retryLocked(*earlier, done);
        }
    }
    if (write.precondition && !write.precondition->holdsAfter(last_event_id_)) {
        return WriteResult{WriteResult::Outcome::precondition_failed,
                           Document{nullptr, last_event_id_}};
    }
    runLocked(std::move(write), std::move(done));
    return std::monostate{};
}

void Board::runLocked(Write write, Done done) {
    const std::int64_t time = wallClockMillis();
    // A start or a reset ends the match being played: its entry is taken
    // while it is still there.
    std::optional<MatchFollower::Abandoned> abandoned =
        follower_.abandonedBy(write.command.kind, match_, time);
    call_time_ = time;
    const Answer answer = runCommand(match_, write.command);
    followClearLocked(write.command, answer.accepted);
    ++last_event_id_;
    JournalRow row{number_,
                   last_event_id_,
                   time,
                   std::move(write.command),
                   std::move(write.idempotency_key),
                   answer.accepted,
                   {}};
    if (!row.idempotency_key.empty()) {
        keys_.add(row.idempotency_key, last_event_id_);
    }
    follower_.follow(row);
    // A refusal changes nothing, so it shows what the write before it showed.
    if (answer.accepted) {
        display_ = Display::of(match_, follower_.facts(), journal_.accuracies(), display_.get());
    }
    Pending& pending = pending_.emplace_back(Pending{
        ++tickets_,
        row,
        std::make_shared<const std::string>(Game501::responseText(answer, display_->state())),
        Snapshot{last_event_id_, display_},
        false,
        {}});
    pending.waiters.push_back(std::move(done));
    // The follower has taken the row: a start's computers are seated.
    pending.free = freeLocked();
    // Only the journal's copy carries what the row changes in the archive.
    follower_.addMatchUpdates(row, std::move(abandoned), match_);
    journal_.append(std::move(row), [this, ticket = pending.ticket](Journal::Written outcome) {
        complete(ticket, outcome);
    });
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

Board::Outcome Board::retryLocked(const JournalRow& row, Done& done) {
    if (row.event_id > durable_event_id_) {
        for (Pending& pending : pending_) {
            if (pending.row.event_id == row.event_id) {
                pending.waiters.push_back(std::move(done));
                return std::monostate{};
            }
        }
    }
    if (last_answer_ && row.event_id == durable_event_id_) {
        return WriteResult{WriteResult::Outcome::applied, Document{last_answer_, row.event_id}};
    }
    return Rerun{row.event_id};
}

void Board::complete(std::uint64_t ticket, Journal::Written outcome) {
    const bool durable = outcome == Journal::Written::durable;
    Snapshot snapshot;
    std::string_view operation;
    std::shared_ptr<const std::string> response;
    std::vector<Done> failed;
    // The writes after the first that failed rest on it: they share its fate.
    WriteResult failure{outcome == Journal::Written::unknown
                            ? WriteResult::Outcome::outcome_unknown
                            : WriteResult::Outcome::storage_unavailable,
                        {}};
    {
        const MutexLock lock(mutex_);
        if (pending_.empty() || pending_.front().ticket != ticket) {
            return;  // undone already, with a write before it that failed
        }
        if (durable) {
            // The write stays pending while its event goes out, so that a
            // retry waits for it as for the write itself.
            const Pending& written = pending_.front();
            snapshot = written.snapshot;
            operation = actionOf(written.row.command.kind).operation;
            response = written.response;
        } else {
            failed = failLocked();
            failure.document.event_id = durable_event_id_;
        }
    }
    if (!durable) {
        for (const Done& waiter : failed) {
            waiter(failure);
        }
        return;
    }
    Snapshot replaced = view_.publish(std::move(snapshot), operation, *response);

    std::vector<Done> waiters;
    std::function<void(std::uint64_t)> listener;
    std::function<void(const Settled&)> settled_listener;
    Settled settled;
    std::uint64_t event_id = 0;
    {
        const MutexLock lock(mutex_);
        Pending& written = pending_.front();
        event_id = written.row.event_id;
        durable_event_id_ = event_id;
        settled = Settled{number_, event_id, written.snapshot.display, written.free};
        settled_listener = settled_listener_;
        waiters = std::move(written.waiters);
        retired_.push_back(Retired{std::move(written), std::exchange(durable_, settled),
                                   std::exchange(last_answer_, response), std::move(replaced)});
        pending_.pop_front();
        // Only a match with a computer has moves to wait for.
        if (!follower_.computers().empty()) {
            listener = durable_listener_;
        }
    }
    for (const Done& waiter : waiters) {
        waiter(WriteResult{WriteResult::Outcome::applied, Document{response, event_id}});
    }
    if (listener) {
        listener(event_id);
    }
    if (settled_listener) {
        settled_listener(settled);
    }
}

std::vector<Board::Done> Board::failLocked() {
    // Every write after the last durable one rests on the one that failed.
    std::vector<Done> waiters;
    for (Pending& pending : pending_) {
        std::move(pending.waiters.begin(), pending.waiters.end(), std::back_inserter(waiters));
    }
    pending_.clear();
    keys_.forgetAfter(durable_event_id_);
    last_event_id_ = durable_event_id_;
    try {
        rebuildLocked();
    } catch (const std::exception&) {
        // Tried again before the next write.
        out_of_step_ = true;
    }
    return waiters;
}

}  // namespace game501::server
