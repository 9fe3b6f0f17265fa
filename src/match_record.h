// What was thrown in a match, leg by leg and visit by visit: the record that
// statistics, match reports and files of darts are made from. It holds every
// dart that stands (an undone dart is gone from it), however long a leg is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rules.h"

namespace game501 {

// One accepted dart, as the engine scored it.
struct DartRecord {
    std::string notation;  // canonical
    int value = 0;         // the points thrown, also for a bust dart
    bool is_double = false;
    bool bust = false;  // set only on the dart that busted its visit
    std::string source;
    std::int64_t timestamp = 0;  // milliseconds since the epoch
};

// One player's turn of up to three darts.
struct VisitRecord {
    int player = 0;       // index into the match's players, in their starting order
    int start_score = 0;  // the player's score before the visit's first dart
    std::vector<DartRecord> darts;
    TurnOutcome outcome = TurnOutcome::open;
};

// One leg: a game of 501 from its first visit to its winning dart.
struct LegRecord {
    int set = 1;                      // counted from 1
    int leg = 1;                      // within its set, counted from 1
    int starter = 0;                  // index of the player who threw first
    int winner = -1;                  // -1 while the leg is being played
    std::vector<VisitRecord> visits;  // in the order they were thrown
};

}  // namespace game501
