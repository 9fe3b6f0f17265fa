#include "rules.h"

#include "ascii.h"
#include "utf8.h"

namespace game501 {

namespace {

// Cuts the text to at most `limit` bytes without splitting a UTF-8 character:
// a character that would straddle the limit goes whole. Text that is not
// valid UTF-8 up to the limit has no characters to keep whole and is cut at
// the limit itself.
std::string cutToLimit(std::string text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    const auto stop = text.begin() + static_cast<std::ptrdiff_t>(limit);
    if (utf8::find_invalid(text.begin(), text.end()) < stop) {
        text.erase(stop, text.end());
        return text;
    }
    // Valid through the limit, so the only sequence that looks broken before
    // the limit is a character that the limit cuts in two.
    text.erase(utf8::find_invalid(text.begin(), stop), text.end());
    return text;
}

}  // namespace

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

std::string playerName(std::string_view name, std::size_t seat) {
    std::string clean = ascii::trim(name);
    if (clean.empty()) {
        return "Spelare " + std::to_string(seat + 1);
    }
    return cutToLimit(std::move(clean), kMaxNameBytes);
}

bool nameFits(std::string_view name) { return ascii::trimmed(name).size() <= kMaxNameBytes; }

std::string nameKey(std::string_view name) {
    std::string key = cutToLimit(ascii::trim(name), kMaxNameBytes);
    for (char& c : key) {
        c = ascii::toLower(c);
    }
    return key;
}

}  // namespace game501
