// What readers see of a board: the board as the journal holds it (the
// leg's state, the match, its entry in the list of boards, the counts of
// the match it plays) and the viewers of its event stream. The board puts
// each durable write in place here; reads and viewers take this view's lock
// alone, never the board's, so that a read never delays a write.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "actions.h"
#include "event_stream.h"
#include "game_501.h"
#include "match_501.h"
#include "mutex.h"
#include "statistics.h"

namespace game501::server {

// The board as it is after one event.
struct Snapshot {
    std::uint64_t event_id = 0;
    Game501::json state;                  // the leg's state document
    Game501::json standing;               // the match document but the leg and the figures
    Match501::Figures figures;            // made a document of only when it is sent
    std::uint64_t match_start_event = 0;  // of the match being played; 0 for none
};

// The counts of the match a board plays, which are newer than the archive's.
struct LiveMatch {
    std::uint64_t start_event = 0;
    std::vector<statistics::Counts> counts;  // one per player
};

// Thread-safe.
class BoardView {
public:
    explicit BoardView(int number) : number_(number) {}
    BoardView(const BoardView&) = delete;
    BoardView& operator=(const BoardView&) = delete;

    // Puts the board as the journal holds it in place, telling no viewer:
    // at start.
    void reset(Snapshot snapshot);

    // Puts the board as it is after a durable write in place, and hands the
    // write's event (its `operation` and its response, `response_json`) to
    // every viewer once this view's lock is let go. Called in event order.
    void publish(Snapshot snapshot, std::string_view operation, const std::string& response_json);

    // Returns the state document of the leg being played.
    Document state() const;
    // Returns the match document: the standing with its figures and the
    // leg's state document as "game".
    Document match() const;
    // Returns the board's entry in the list of boards: its number, the
    // match's status and format, and its players in their starting order
    // with their scores and the legs and sets they have won.
    Game501::json summary() const;
    // Returns the board as a viewer's stream opens with it (openingData),
    // with the id of its last event; the checkout is worked out after this
    // view's lock is let go.
    Document opening() const;
    // Returns the start event and each player's counts of the match being
    // played, if any.
    std::optional<LiveMatch> liveMatch() const;

    // Registers a viewer and returns the event that opens its stream.
    // Every later event reaches the viewer's queue, in order.
    EventText subscribe(const std::shared_ptr<EventQueue>& viewer);

private:
    const int number_;
    mutable Mutex mutex_;
    Snapshot current_ GAME501_GUARDED_BY(mutex_);
    Viewers viewers_ GAME501_GUARDED_BY(mutex_);
};

}  // namespace game501::server
