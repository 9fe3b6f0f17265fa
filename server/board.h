// The write path of one board: each write run on the board's match (one leg,
// a single game, unless its start asks for more), numbered as the board's
// next event, journalled, and answered once its row is durable.
//
// The journal is the truth and the engine a cache of it. A write runs on the
// engine at once, so that the next write sees its effect, but it is
// answered, and its event reaches the viewers, only once its journal row is
// durable; until then readers see the board as the journal holds it (its
// view). When a row cannot be written, the engine goes back to what the
// journal holds; while the journal takes no writes, a write is refused
// before it runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "actions.h"
#include "board_view.h"
#include "game_501.h"
#include "journal.h"
#include "match.h"
#include "match_follower.h"
#include "mutex.h"
#include "recent_keys.h"

namespace game501::server {

// A board as one of its durable events left it.
struct Settled {
    int board = 0;
    std::uint64_t event_id = 0;
    std::shared_ptr<const Display> display;
    // Idle, or its match over and the board cleared after the last dart
    // (a match of computers alone clears itself): a match may be called here.
    bool free = true;
};

// Thread-safe.
class Board {
public:
    using Done = std::function<void(WriteResult)>;

    Board(int number, std::string token, Journal& journal);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    int number() const { return number_; }
    const std::string& token() const { return token_; }
    // Returns whether `token` is this board's write token, in constant time.
    bool acceptsToken(std::string_view token) const;

    // What readers see of the board.
    BoardView& view() { return view_; }
    const BoardView& view() const { return view_; }

    // Rebuilds the board from its rows in the journal: its game replayed
    // with the times it was played with, its last event id and its recent
    // keys. Throws when the journal cannot be read.
    void restore();
    // Rebuilds the board from what the journal holds once it has been
    // opened again, unless a write is in flight (a board's rows were in the
    // commit that failed only when every write of it failed). Viewers who
    // were shown another last event are cut off, to start again with the
    // board as it is. Called on the journal's writer thread.
    void reload();

    // The one path from a request to the engine. A retry of a keyed write
    // gets the first answer again; a write whose precondition does not hold
    // changes nothing; any other write runs on the engine and is numbered as
    // the next event, under the board's lock, so that rows, answers and
    // events follow the engine's order. `done` is called once, perhaps on
    // another thread, when the answer may go out: for a write that ran, once
    // its row is durable (then its event has reached every viewer) or has
    // failed.
    void apply(Write write, Done done);

    // Calls `listener` with the id of every event of a match with a computer
    // once it is durable, on one of the journal's threads, outside the
    // board's lock. Set before the journal starts.
    void onDurable(std::function<void(std::uint64_t event_id)> listener);

    // Calls `listener` with the board as every durable event leaves it, in
    // event order, on the journal's thread, outside the board's lock; an
    // event before it is set reaches none, and settled() tells what it left.
    void onSettled(std::function<void(const Settled&)> listener);
    // Returns the board as the journal holds it now.
    Settled settled() const;

    // Returns the write a computer player makes now, if one is to move after
    // `event_id`: its next dart, or the board clear after its own turn. The
    // write holds only if the board's last event is still that one.
    std::optional<Write> computerMove(std::uint64_t event_id);

private:
    // A write that ran on the engine and waits for its row.
    struct Pending {
        std::uint64_t ticket;  // told apart from rows that failed before it
        JournalRow row;        // the journal's, but for what it changes in the archive
        std::shared_ptr<const std::string> response;  // the answer's JSON text
        Snapshot snapshot;                            // the board after it
        bool free;                                    // as Settled::free after it
        std::vector<Done> waiters;                    // the write and its retries
    };
    struct Retired {
        Pending write;
        Settled durable;
        std::shared_ptr<const std::string> answer;
        Snapshot view;
    };
    // An earlier durable write, whose answer is made again from the rows of
    // its game.
    struct Rerun {
        std::uint64_t event_id;
    };
    // What a write comes to under the lock: waiting for its row (nothing to
    // do now), an answer now, or an answer to make again.
    using Outcome = std::variant<std::monostate, WriteResult, Rerun>;

    // Answers a retry, a reused key or a precondition that fails, or runs
    // the write; takes `done` when the answer waits for a row.
    Outcome applyLocked(Write& write, Done& done) GAME501_REQUIRES(mutex_);
    // Runs a write on the engine and hands its row to the journal.
    void runLocked(Write write, Done done) GAME501_REQUIRES(mutex_);
    // Puts the match as the journal holds it in place: a fresh match with
    // the rows of the board's game replayed on it. Throws when the journal
    // cannot be read, and then changes nothing.
    void rebuildLocked() GAME501_REQUIRES(mutex_);
    // Puts the board as the journal holds it in place: its match, its last
    // event, its keys and its view. Throws when the journal cannot be read,
    // and then changes nothing.
    void restoreLocked() GAME501_REQUIRES(mutex_);
    // Finds the earlier write of this key: its row, from the pending writes
    // or the journal; nothing when the key is new.
    std::optional<JournalRow> earlierWriteLocked(const std::string& key) GAME501_REQUIRES(mutex_);
    // Answers a retry of the write of `row`: now, once it is durable, or by
    // making its answer again.
    Outcome retryLocked(const JournalRow& row, Done& done) GAME501_REQUIRES(mutex_);
    // Answers the pending write of `ticket` once the journal has it, or
    // every pending write as it failed.
    void complete(std::uint64_t ticket, Journal::Written outcome);
    // Puts the board back as the journal holds it; returns the waiters of
    // every write undone.
    std::vector<Done> failLocked() GAME501_REQUIRES(mutex_);
    // The engine's clock: the time of the call being run. The engine asks
    // only while the board runs a call on it, under the lock.
    std::int64_t engineTime() const GAME501_NO_THREAD_SAFETY_ANALYSIS { return call_time_; }
    // Follows whether the board was cleared after the match's last dart,
    // once `command` ran and was `accepted`.
    void followClearLocked(const Command& command, bool accepted) GAME501_REQUIRES(mutex_);
    bool freeLocked() const GAME501_REQUIRES(mutex_);

    const int number_;
    const std::string token_;
    Journal& journal_;
    BoardView view_;
    mutable Mutex mutex_;

    // The match, ahead of the journal by the pending writes.
    std::int64_t call_time_ GAME501_GUARDED_BY(mutex_) = 0;  // what the engine's clock answers
    Match match_ GAME501_GUARDED_BY(mutex_);
    MatchFollower follower_ GAME501_GUARDED_BY(mutex_);
    // What the match displays now; a write that changes nothing shares it.
    std::shared_ptr<const Display> display_ GAME501_GUARDED_BY(mutex_);
    std::uint64_t last_event_id_ GAME501_GUARDED_BY(mutex_) = 0;
    std::uint64_t tickets_ GAME501_GUARDED_BY(mutex_) = 0;
    std::deque<Pending> pending_ GAME501_GUARDED_BY(mutex_);
    RecentKeys keys_ GAME501_GUARDED_BY(mutex_);
    std::function<void(std::uint64_t)> durable_listener_ GAME501_GUARDED_BY(mutex_);
    std::function<void(const Settled&)> settled_listener_ GAME501_GUARDED_BY(mutex_);
    // The match is over and the board was cleared after its last dart.
    bool cleared_ GAME501_GUARDED_BY(mutex_) = false;
    // Set when writes failed and the journal could not be read to put the
    // match back: the match is ahead of the journal with writes that are not
    // in it, so every write is refused until a rebuild succeeds.
    bool out_of_step_ GAME501_GUARDED_BY(mutex_) = false;

    // The board as the journal holds it: its last event, and the answer to
    // the last durable write. Nothing more is kept of its game, so that a
    // board's memory grows with neither refused writes nor long games; the
    // rows are read back from the journal where a rollback or a retry
    // needs them.
    std::uint64_t durable_event_id_ GAME501_GUARDED_BY(mutex_) = 0;
    std::shared_ptr<const std::string> last_answer_ GAME501_GUARDED_BY(mutex_);
    Settled durable_ GAME501_GUARDED_BY(mutex_);
    // What durable writes let go of (their row, and the answer and displays
    // they replace), freed by the board's next write: on a network thread,
    // which made it and takes the memory again at once, rather than on the
    // journal's, which would only give it back across threads.
    std::vector<Retired> retired_ GAME501_GUARDED_BY(mutex_);
};

// The boards of one server, numbered from 1.
using Boards = std::vector<std::unique_ptr<Board>>;

}  // namespace game501::server
