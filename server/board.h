// The boards of a server: each one match (of one leg, a single game, unless
// its start asks for more), its write token, the viewers of its event
// stream, and its place in the journal.
//
// The journal is the truth and the engine a cache of it. A write runs on the
// engine at once, so that the next write sees its effect, but it is
// answered, and its event reaches the viewers, only once its journal row is
// durable; until then readers see the board as the journal holds it. When a
// row cannot be written, the engine goes back to what the journal holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "actions.h"
#include "computer_player.h"
#include "event_queue.h"
#include "game_501.h"
#include "journal.h"
#include "match_501.h"

namespace game501::server {

// A document as the engine made it, serialised, with the id of the last
// event it includes.
struct Document {
    std::string json;
    std::uint64_t event_id = 0;
};

// A write's condition on the board, from If-Match: the event ids after
// which it may be applied, or any at all.
struct Precondition {
    bool any = false;
    std::vector<std::uint64_t> event_ids;

    bool holdsAfter(std::uint64_t last_event_id) const;
};

// One write as a request asks for it.
struct Write {
    Command command;
    std::string idempotency_key;  // empty: none
    std::optional<Precondition> precondition;
};

// How a write was answered.
struct WriteResult {
    enum class Outcome {
        applied,              // the engine ran it (or ran it before: a retry); see document
        precondition_failed,  // the board's last event is another; document.event_id is it
        key_reused,           // the key came with another request before
        storage_unavailable,  // the journal could not take the row; nothing changed
    };
    Outcome outcome = Outcome::applied;
    Document document;
};

// The event ids of a board's last writes that carried an idempotency key,
// with a hash of each key, so that a retry is found without keeping the
// keys themselves; a hit is confirmed against the row.
class RecentKeys {
public:
    explicit RecentKeys(std::size_t capacity) : capacity_(capacity) {}

    // Returns the event ids whose key hashes as `key` does, newest first.
    std::vector<std::uint64_t> candidates(std::string_view key) const;
    void add(std::string_view key, std::uint64_t event_id);
    // Forgets every key of an event after `event_id`.
    void forgetAfter(std::uint64_t event_id);

private:
    struct Entry {
        std::uint64_t hash;
        std::uint64_t event_id;
    };
    static std::uint64_t hash(std::string_view key);

    const std::size_t capacity_;
    std::deque<Entry> entries_;  // oldest first
};

// A match rebuilt from journal rows, each call stamped with its row's time,
// as the board first ran them.
class Replay {
public:
    explicit Replay(const std::vector<JournalRow>& rows);
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    const Match501& match() const { return match_; }
    // The response document of the last row's call; null for no rows.
    const Game501::json& lastResponse() const { return last_response_; }

private:
    std::int64_t time_ = 0;
    Match501 match_;
    Game501::json last_response_;
};

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

    // Rebuilds the board from its rows in the journal: its game replayed
    // with the times it was played with, its last event id and its recent
    // keys. Throws when the journal cannot be read.
    void restore();

    // The one path from a request to the engine. A retry of a keyed write
    // gets the first answer again; a write whose precondition does not hold
    // changes nothing; any other write runs on the engine and is numbered as
    // the next event, under the board's lock, so that rows, answers and
    // events follow the engine's order. `done` is called once, perhaps on
    // another thread, when the answer may go out: for a write that ran, once
    // its row is durable (then its event has reached every viewer) or has
    // failed.
    void apply(Write write, Done done);

    // Returns the state document of the leg being played, as the journal
    // holds it.
    Document state() const;

    // Returns the match document, as the journal holds it.
    Document match() const;

    // Returns the start event and each player's counts of the match the
    // journal holds as being played on the board, if any: the archive keeps
    // a match's counts as of its last change of status, the board the rest.
    std::optional<std::pair<std::uint64_t, std::vector<statistics::Counts>>> liveMatch() const;

    // Returns the board's entry in the list of boards: its number, the
    // match's status and format, and its players in their starting order
    // with their scores and the legs and sets they have won.
    Game501::json summary() const;

    // Calls `listener` with the id of every event once it is durable, on the
    // journal's thread, outside the board's lock. Set before the journal
    // starts.
    void onDurable(std::function<void(std::uint64_t event_id)> listener);

    // Returns the write a computer player makes now, if one is to move after
    // `event_id`: its next dart, or the board clear after its own turn. The
    // write holds only if the board's last event is still that one.
    std::optional<Write> computerMove(std::uint64_t event_id);

    // Registers a viewer and returns the event that opens its stream: the
    // board as the journal holds it, numbered as its last durable event.
    // Every later event reaches the viewer's queue, in order.
    EventText subscribe(const std::shared_ptr<EventQueue>& viewer);

private:
    // A write that ran on the engine and waits for its row.
    struct Pending {
        std::uint64_t ticket;  // told apart from rows that failed before it
        JournalRow row;
        std::string response_json;
        Game501::json state;        // the leg after it
        Game501::json standing;     // the match after it, but the leg and the figures
        Match501::Figures figures;  // made a document of only when it is sent
        std::vector<Done> waiters;  // the write and its retries
    };

    // Runs a command on the engine at `time`; returns its response document.
    Game501::json runLocked(const Command& command, std::int64_t time);
    // Puts a fresh match in place with `rows` replayed on it.
    void rebuildLocked(const std::vector<JournalRow>& rows);
    // Returns the match document but the leg and the players' figures, with
    // each computer's level and the match's id; and with the figures apart.
    Game501::json standingLocked() const;
    std::pair<Game501::json, Match501::Figures> standingAndFiguresLocked() const;
    void addBoardFactsLocked(Game501::json& standing) const;
    // Follows which match the board plays as `row` begins or ends one.
    void followMatchLocked(const JournalRow& row);
    // Returns the archive's entry of the match being played, as at `time`.
    archive::MatchEntry matchEntryLocked(std::int64_t time) const;
    // Adds to `row` what it changes in the archive of matches.
    void archiveLocked(JournalRow& row);
    // Finds the earlier write of this key: its row, from the pending writes
    // or the journal; nothing when the key is new.
    std::optional<JournalRow> earlierWriteLocked(const std::string& key);
    // Answers a retry of the write of `row`, now or once it is durable.
    void answerRetryLocked(const JournalRow& row, std::unique_lock<std::mutex>& lock, Done done);
    void complete(std::uint64_t ticket, bool durable);
    // Hands the event of a durable write to every viewer.
    void publishLocked(const Pending& written);
    void forgetClosedViewersLocked();

    const int number_;
    const std::string token_;
    Journal& journal_;
    mutable std::mutex mutex_;

    // The match, ahead of the journal by the pending writes.
    std::int64_t call_time_ = 0;  // what the engines' clock answers
    std::unique_ptr<Match501> match_;
    std::uint64_t last_event_id_ = 0;
    std::uint64_t tickets_ = 0;
    // The match being played: the event and time of its start (0: none).
    std::uint64_t match_start_event_ = 0;
    std::int64_t match_started_ = 0;
    std::string match_status_ = "idle";
    std::string archived_status_;  // the match's status as the archive has it
    // The computers of the match being played, by the match's players.
    std::vector<std::optional<ComputerThrower>> computers_;
    std::vector<std::optional<ComputerLevel>> computer_levels_;
    std::function<void(std::uint64_t)> durable_listener_;
    std::deque<Pending> pending_;
    RecentKeys keys_;

    // The board as the journal holds it.
    std::vector<JournalRow> durable_game_;  // the rows that rebuild it
    std::uint64_t durable_event_id_ = 0;
    Game501::json durable_state_;
    Game501::json durable_standing_;  // without the figures
    Match501::Figures durable_figures_;
    std::optional<Document> last_answer_;  // the answer to the last durable write

    std::vector<std::weak_ptr<EventQueue>> viewers_;
};

// The boards of one server, numbered from 1.
using Boards = std::vector<std::unique_ptr<Board>>;

// Serialises a document without ever throwing: text that is not valid UTF-8
// becomes U+FFFD.
std::string serialise(const Game501::json& document);

}  // namespace game501::server
