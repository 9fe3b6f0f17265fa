#include "beds.h"

#include <array>
#include <cstdint>
#include <limits>

#include "ascii.h"

namespace game501::beds {

namespace {

struct Alias {
    std::string_view name;
    int bed;
};

constexpr std::array<Alias, 11> kAliases = {{
    {"MISS", kMissBed},
    {"M", kMissBed},
    {"0", kMissBed},
    {"OUTER", kOuterBed},
    {"SB", kOuterBed},
    {"S25", kOuterBed},
    {"25", kOuterBed},
    {"BULL", kBullBed},
    {"DB", kBullBed},
    {"D25", kBullBed},
    {"50", kBullBed},
}};

constexpr std::array<char, 3> kPrefixes = {'S', 'D', 'T'};

}  // namespace

int bedValue(int bed) {
    if (const int segment = segmentOf(bed); segment != 0) {
        return (bed / kSegments + 1) * segment;
    }
    return bed == kOuterBed ? 25 : bed == kBullBed ? 50 : 0;
}

bool isDoubleBed(int bed) {
    return (bed >= doubleBed(1) && bed <= doubleBed(kSegments)) || bed == kBullBed;
}

std::string bedNotation(int bed) {
    if (const int segment = segmentOf(bed); segment != 0) {
        return kPrefixes[static_cast<std::size_t>(bed / kSegments)] + std::to_string(segment);
    }
    return bed == kOuterBed ? "OUTER" : bed == kBullBed ? "BULL" : "MISS";
}

std::optional<int> parseBed(std::string_view notation) {
    std::string text(ascii::trimmed(notation));
    for (char& c : text) {
        c = ascii::toUpper(c);
    }
    for (const Alias& alias : kAliases) {
        if (text == alias.name) {
            return alias.bed;
        }
    }

    std::size_t ring = 0;  // the index of the prefix: S, D or T
    std::size_t digits_from = 0;
    for (std::size_t i = 0; i < kPrefixes.size(); ++i) {
        if (!text.empty() && text[0] == kPrefixes[i]) {
            ring = i;
            digits_from = 1;
        }
    }
    if (digits_from == text.size()) {
        return std::nullopt;
    }
    // Any count of leading zeros is allowed; a value beyond 32 bits is
    // rejected, never wrapped.
    std::int64_t number = 0;
    for (std::size_t i = digits_from; i < text.size(); ++i) {
        if (!ascii::isDigit(text[i])) {
            return std::nullopt;
        }
        number = number * 10 + (text[i] - '0');
        if (number > std::numeric_limits<std::int32_t>::max()) {
            return std::nullopt;
        }
    }
    if (number < 1 || number > kSegments) {
        return std::nullopt;
    }
    return static_cast<int>(ring) * kSegments + singleBed(static_cast<int>(number));
}

}  // namespace game501::beds
