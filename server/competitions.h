// The competitions of a server and the night they run on its boards. Each
// competition is the library's value (competition.h) with the night's
// facts; its rows in the journal are its truth (competition_store.h).
//
// The night: a competition names the boards of its pool. Whenever one of
// them is free (Settled::free) and no start of ours is on its way to it,
// the next ready match whose players play on no board is called to it: the
// match begins in the competition and its start, tagged with the
// competition and match, is written to the board like any start. When the
// board's tagged match is over, its result goes into the competition; when
// the board moves on to anything else (a reset, another start), the match
// goes back to the queue. A restart brings every competition in line with
// its boards the same way, so that a row lost to a crash between a board's
// row and the competition's is made good.
//
// Thread-safe. The boards' settled events, the journal's answers and the
// API's writes take the one lock; starts go to the boards after it is let
// go, and reads take only what is in place.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "board.h"
#include "competition.h"
#include "competition_document.h"
#include "event_stream.h"
#include "journal.h"
#include "mutex.h"

namespace game501::server {

// How a competition's write was answered.
struct CompetitionResult {
    enum class Outcome {
        applied,              // durable; document is the competition's
        not_found,            // no such competition or match
        refused,              // the competition refuses it; message says why
        storage_unavailable,  // the journal could not take it; nothing changed
    };
    Outcome outcome = Outcome::applied;
    std::string message;  // Swedish, for a refusal
    std::string document;
};

class Competitions {
public:
    using Done = std::function<void(CompetitionResult)>;

    Competitions(Journal& journal, Boards& boards);
    Competitions(const Competitions&) = delete;
    Competitions& operator=(const Competitions&) = delete;

    // Rebuilds every competition from the journal. Throws when the journal
    // cannot be read or holds a competition that does not replay.
    void restore();
    // Follows the boards from now on, brings each competition in line with
    // its boards and calls matches to the free ones. After the journal
    // starts.
    void start();

    // Returns {"competitions": [...]}: each one's "id", "name", "format",
    // "status", "boards" and "winner", oldest first.
    std::string list() const;
    // Returns the competition's document as the journal holds it; nothing
    // when there is none.
    std::optional<std::string> document(int id) const;
    // Registers a viewer of the competition and returns the event that
    // opens its stream; null when there is none.
    EventText subscribe(int id, const std::shared_ptr<EventQueue>& viewer);

    // Makes a competition of `settings` and `facts` (their id is given
    // here). `done` is called once, perhaps on another thread: refused with
    // check()'s message, or applied once durable.
    void create(CompetitionFacts facts, const competition::Settings& settings, Done done);
    // Applies an organiser's change (open rounds, a result or walkover) to
    // competition `id`, answered as create is.
    void change(int id, const competition::Event& event, Done done);

private:
    struct Entry {
        CompetitionFacts facts;
        competition::Competition competition;
        // As the journal holds it: the document and its event number.
        std::shared_ptr<const std::string> document;
        std::uint64_t published = 0;
        Viewers viewers;
    };
    // A start of ours on its way to a board.
    struct Calling {
        int competition = 0;
        int match = 0;
        std::uint64_t event_id = 0;  // the start's, once the board answered; 0 before
    };
    // A start to hand to a board once the lock is let go.
    struct Call {
        std::size_t board;  // index
        int competition;
        int match;
        Write write;
    };
    using Calls = std::vector<Call>;

    void settled(const Settled& settled);
    // Brings the board's competition matches in line with it: a result, a
    // match back in the queue, a begin that was lost. Returns whether any
    // competition changed.
    bool followLocked(const Settled& settled) GAME501_REQUIRES(mutex_);
    // Calls a ready match to every free board with no start on its way.
    void callFreeLocked(Calls& calls) GAME501_REQUIRES(mutex_);
    bool callLocked(std::size_t board, Calls& calls) GAME501_REQUIRES(mutex_);
    void issue(Calls calls);
    void called(const Call& call, const WriteResult& result);
    // Applies an event to the competition and queues its row; `done` (may be
    // empty) hears how it went.
    competition::Answer changeLocked(Entry& entry, const competition::Event& event, Done done)
        GAME501_REQUIRES(mutex_);
    void append(int id, competitions::Row row, std::shared_ptr<const std::string> document,
                Done done);
    void durable(int id, std::uint64_t number, std::shared_ptr<const std::string> document,
                 bool written, const Done& done);
    // Puts the competition back as the journal holds it, after a failed write.
    void reloadLocked(int id) GAME501_REQUIRES(mutex_);
    std::shared_ptr<const std::string> documentOf(const Entry& entry) const;

    Journal& journal_;
    Boards& boards_;
    mutable Mutex mutex_;
    std::map<int, Entry> entries_ GAME501_GUARDED_BY(mutex_);
    int next_id_ GAME501_GUARDED_BY(mutex_) = 1;
    std::uint64_t changes_ GAME501_GUARDED_BY(mutex_) = 0;  // events applied, all competitions
    // Per board: the last settled event, and a start of ours on its way.
    std::vector<Settled> boards_now_ GAME501_GUARDED_BY(mutex_);
    std::vector<std::optional<Calling>> calling_ GAME501_GUARDED_BY(mutex_);
    // Per board: the event of a start of ours that its engine refused.
    std::vector<std::optional<std::uint64_t>> refused_at_ GAME501_GUARDED_BY(mutex_);
};

}  // namespace game501::server
