#include "rules.h"

namespace game501 {

DartEffect dartEffect(int remaining, int value, bool is_double) {
    const int rest = remaining - value;
    if (rest < 0 || rest == 1 || (rest == 0 && !is_double)) {
        return DartEffect::busts;
    }
    return rest == 0 ? DartEffect::checks_out : DartEffect::scores;
}

int legStarter(int set, int leg, int players) { return (set - 1 + leg - 1) % players; }

const char* outcomeName(TurnOutcome outcome) {
    switch (outcome) {
        case TurnOutcome::scored:
            return "scored";
        case TurnOutcome::bust:
            return "bust";
        case TurnOutcome::checkout:
            return "checkout";
        case TurnOutcome::open:
            break;
    }
    return "open";
}

int dartsCharged(TurnOutcome outcome, int thrown) {
    return outcome == TurnOutcome::bust ? kDartsPerTurn : thrown;
}

std::string rangeRefusal(int low, int high, std::string_view unit) {
    return "Välj mellan " + std::to_string(low) + " och " + std::to_string(high) + " " +
           std::string(unit);
}

}  // namespace game501
