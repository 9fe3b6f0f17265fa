// What readers see of a board: the board as the journal holds it (the
// leg's state, the match, its entry in the list of boards, the counts of
// the match it plays) and the viewers of its event stream. The board puts
// each durable write in place here; reads and viewers take this view's lock
// alone, never the board's, and only to take what is in place: documents
// are made outside any lock, each at most once per write.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accuracies.h"
#include "actions.h"
#include "event_stream.h"
#include "front_end.h"
#include "game_501.h"
#include "live_record.h"
#include "match.h"
#include "match_follower.h"
#include "mutex.h"
#include "statistics.h"

namespace game501::server {

// The counts of the match a board plays, which are newer than the archive's.
struct LiveMatch {
    std::uint64_t start_event = 0;
    std::vector<statistics::Counts> counts;  // one per player
};

// What a board displays after a write: its match as typed records and the
// leg's state document as JSON text, the same text that the write's answer
// carries. Never changes once made, but for the documents made of it, each
// made at most once, by whichever reader asks first; so it may be shared by
// any number of threads, and by the writes that leave the match as it is.
class Display {
public:
    // Returns the display of `match`, whose board knows `facts` of it, with
    // where it stands for the players' chances to win (livePoint); the active
    // player's own advice is for their sigma in `accuracies` when they are a
    // member with one; `before` is the board's display one write earlier,
    // null after a rebuild (LiveRecord::of).
    static std::shared_ptr<const Display> of(const Match& match,
                                             std::shared_ptr<const MatchFacts> facts,
                                             const Accuracies& accuracies, const Display* before);

    // The leg's state document (Game501::stateText).
    const std::string& state() const { return state_.text; }
    // Returns the match document without the leg, as events carry it: the
    // standing with the board's facts (addBoardFacts), each player's
    // "figures" (Match501::withFigures) and the players' "win_chance"
    // (winChanceJson).
    const std::string& standing() const;
    // Returns that document with the leg's state document as "game".
    const std::string& match() const;
    // Returns the checkout of the leg (front_end::checkoutFor) with the
    // active player's "own": {"sigma_mm", "route", "probability", "chance"}
    // by the advice for their own sigma, null for a player without one.
    const std::string& checkout() const;
    // Returns the board's entry in the list of boards: its number, the
    // match's status and format, and its players in their starting order
    // with their scores and the legs and sets they have won.
    Game501::json summary(int board) const;
    // Returns the start event and each player's counts of the match being
    // played, if any.
    std::optional<LiveMatch> liveMatch() const;
    // The match as values.
    const Match::Overview& overview() const { return overview_; }
    const Match::Figures& figures() const { return figures_; }
    // Returns the event of the start of the match on the board, 0 for none.
    std::uint64_t startEvent() const { return facts_->start_event; }
    // Returns the record of every dart of the match that stands.
    const LiveRecord& record() const { return *record_; }
    // What the board knows of its match beside the engine.
    const MatchFacts& facts() const { return *facts_; }

    Display(Game501::StateText state, std::optional<front_end::CheckoutSituation> checkout,
            std::optional<double> own_sigma, std::vector<int> scores, Match::Overview overview,
            Match::Figures figures, std::optional<MatchPoint> chance_point,
            std::shared_ptr<const MatchFacts> facts, std::shared_ptr<const LiveRecord> record);
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

private:
    Game501::json standingDocument() const;

    const Game501::StateText state_;  // its history copied by the next display where the same
    const std::optional<front_end::CheckoutSituation> checkout_situation_;
    const std::optional<double> own_sigma_;  // the active player's, if a member with one
    const std::vector<int> scores_;  // the leg's, by the match's players in their starting order
    const Match::Overview overview_;
    const Match::Figures figures_;
    const std::optional<MatchPoint> chance_point_;  // the chances are worked out when read
    const std::shared_ptr<const MatchFacts> facts_;
    const std::shared_ptr<const LiveRecord> record_;

    mutable std::once_flag standing_made_;
    mutable std::string standing_;
    mutable std::once_flag match_made_;
    mutable std::string match_;
    mutable std::once_flag checkout_made_;
    mutable std::string checkout_;
};

// The board as it is after one event.
struct Snapshot {
    std::uint64_t event_id = 0;
    std::shared_ptr<const Display> display;
};

// Thread-safe.
class BoardView {
public:
    explicit BoardView(int number) : number_(number) {}
    BoardView(const BoardView&) = delete;
    BoardView& operator=(const BoardView&) = delete;

    // Puts the board as the journal holds it in place, telling no viewer:
    // at start, and when the journal has been opened again after a commit
    // that failed part way. Viewers who were shown another last event are
    // cut off, to reconnect and start again with the board as it is.
    void restore(Snapshot snapshot);

    // Puts the board as it is after a durable write in place, and hands the
    // write's event (its `operation` and its response, `response_json`) to
    // every viewer once this view's lock is let go. Returns the snapshot it
    // replaces. Called in event order, from one thread at a time.
    Snapshot publish(Snapshot snapshot, std::string_view operation,
                     const std::string& response_json);

    // Returns the state document of the leg being played.
    Document state() const;
    // Returns the match document: the standing with its figures and the
    // leg's state document as "game".
    Document match() const;
    // Returns the board's entry in the list of boards (Display::summary).
    Game501::json summary() const;
    // Returns the board as a viewer's stream opens with it (openingData),
    // with the id of its last event; the checkout is worked out after this
    // view's lock is let go.
    Document opening() const;
    // Returns the start event and each player's counts of the match being
    // played, if any.
    std::optional<LiveMatch> liveMatch() const;
    // Returns the board as it is now: its last event and its display.
    Snapshot current() const;

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
