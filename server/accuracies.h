// Each member's accuracy (accuracy.h), learnt from the darts of the matches
// of theirs that count and of their practice against the computer, void
// matches left out. A cache of the journal, rebuilt from it at every start:
// per member and calendar month the tally of those darts, with the matches
// it was made from and its estimate, so that a match that ends costs the
// replay of its month's matches and two estimates, and a read that finds
// the same matches costs neither. The boards ask for a member's sigma from
// a map that a thread of its own brings up to date as matches end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "accuracy.h"
#include "archive_reader.h"
#include "leg.h"
#include "mutex.h"

namespace game501::server {

// A member's accuracy over one calendar month of the server's local time.
struct MonthAccuracy {
    std::string month;                           // "2026-12"
    int darts = 0;                               // the usable darts
    std::optional<accuracy::Estimate> estimate;  // none from fewer than kMinUsableDarts
};

// A member's accuracy over all their darts, and month by month.
struct MemberAccuracy {
    std::optional<accuracy::Estimate> estimate;  // none from fewer than kMinUsableDarts
    int darts = 0;
    std::vector<MonthAccuracy> months;  // oldest first; those with a usable dart
};

// Returns whether the darts of a member's seat in `match` go into their
// accuracy: a match that counts (archive::counts) or practice that ended,
// and not void.
bool teachesAccuracy(const archive::MatchEntry& match);

// Thread-safe.
class Accuracies {
public:
    // Reads matches and their rows through `reader`, which outlives it.
    explicit Accuracies(ArchiveReader& reader);
    Accuracies(const Accuracies&) = delete;
    Accuracies& operator=(const Accuracies&) = delete;
    // Stops the thread.
    ~Accuracies();

    // Starts the thread, which first brings every member up to date.
    void start();
    // Has the members of the board's match that began at `start_event`
    // brought up to date: it ended at `updated` (the archive's time of its
    // last change), with `legs`, or none to have its rows read back. Never
    // blocks on a read.
    void ended(int board, std::uint64_t start_event, std::int64_t updated,
               std::shared_ptr<const std::vector<LegRecord>> legs);
    // Has every member brought up to date: the register or a match's void
    // changed. Never blocks on a read.
    void changed();

    // Returns the sigma, to a tenth of a millimetre, of the member who is
    // `name` by nameKey, if they have an estimate: the one the boards use for
    // their own advice and a computer that throws like them. As the thread
    // last brought it up to date; nothing before it reached the member.
    // Never blocks on a read or an estimate.
    std::optional<double> sigmaOf(std::string_view name) const;

    // Returns the accuracy of `member`, whose seats are `appearances`
    // (ArchiveReader::appearances): months whose matches are those last
    // seen are taken as kept, the others are played again from their rows
    // and estimated. Throws SQLite::Exception when the rows cannot be read.
    MemberAccuracy of(const Member& member, const std::vector<Appearance>& appearances);

    // The boards' sigmas are rounded to tenths of a millimetre, so that a
    // few sigmas' tables serve the boards (checkout_hint.h).
    static constexpr double kBoardSigmaStepsPerMm = 10.0;

private:
    // A seat: board, start event, position, and the time of the match's last
    // change, so that a match that ended again is another seat.
    using Seat = std::tuple<int, std::uint64_t, int, std::int64_t>;
    // A match that ended: the time of the row that ended it, and its legs
    // when the row gave them.
    struct Ended {
        std::int64_t updated = 0;
        std::shared_ptr<const std::vector<LegRecord>> legs;
    };
    struct Month {
        std::vector<Seat> seats;  // in ascending order
        accuracy::Tally tally;
        std::optional<accuracy::Estimate> estimate;
        bool estimated = false;  // whether `estimate` is the tally's
    };
    struct Kept {
        std::map<std::string, Month> months;
        accuracy::Tally tally;
        std::optional<accuracy::Estimate> estimate;
    };

    // The tallies of seats in matches that just ended, from their legs.
    using Fresh = std::map<Seat, accuracy::Tally>;

    // Brings `member` up to date and returns their accuracy, its months'
    // estimates only when `months` asks for them (the boards need none).
    MemberAccuracy refreshLocked(std::int64_t member, const std::vector<Appearance>& appearances,
                                 const Fresh& fresh, bool months) GAME501_REQUIRES(work_mutex_);
    // What is kept of a member after the matches that just ended.
    struct Learnt {
        // False when the member is not kept yet, or a seat's match ended
        // before with other darts: their matches are to be read again.
        bool kept = false;
        std::optional<accuracy::Estimate> estimate;
    };
    // Adds to what is kept of `member` their seats in matches that just
    // ended, and returns their estimate.
    Learnt learnLocked(std::int64_t member, const std::vector<Appearance>& ended,
                       const Fresh& fresh) GAME501_REQUIRES(work_mutex_);
    accuracy::Tally tallyLocked(const std::vector<Seat>& seats, const Fresh& fresh)
        GAME501_REQUIRES(work_mutex_);
    // Brings `member` up to date with their seats in matches that just
    // ended and puts its sigma where the boards find it.
    void refresh(const Member& member, const std::vector<Appearance>& ended, const Fresh& fresh);
    void refreshEveryone();
    void run();

    ArchiveReader& reader_;

    Mutex work_mutex_;  // one member brought up to date at a time
    std::map<std::int64_t, Kept> kept_ GAME501_GUARDED_BY(work_mutex_);

    mutable Mutex sigmas_mutex_;
    std::map<std::string, double, std::less<>> sigmas_ GAME501_GUARDED_BY(sigmas_mutex_);

    Mutex queue_mutex_;
    std::condition_variable_any queue_changed_;
    std::map<std::pair<int, std::uint64_t>, Ended> ended_ GAME501_GUARDED_BY(queue_mutex_);
    bool everyone_ GAME501_GUARDED_BY(queue_mutex_) = true;
    bool stopping_ GAME501_GUARDED_BY(queue_mutex_) = false;
    std::thread thread_;
};

}  // namespace game501::server
