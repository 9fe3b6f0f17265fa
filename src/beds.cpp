#include "beds.h"

#include <array>
#include <charconv>
#include <cstdint>

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
    // Any count of leading zeros is allowed; a value beyond 32 bits is
    // rejected, never wrapped, and so is a sign, which the range leaves out.
    std::int32_t number = 0;
    const char* const end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data() + digits_from, end, number);
    if (read.ec != std::errc() || read.ptr != end || number < 1 || number > kSegments) {
        return std::nullopt;
    }
    return static_cast<int>(ring) * kSegments + singleBed(number);
}

}  // namespace game501::beds
