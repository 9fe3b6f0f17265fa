#include "comparisons.h"

#include <iostream>
#include <string>

#include "report.h"

namespace game501::load {
namespace {

void printRatio(const std::string& what, const RunFigures& of, const RunFigures& over) {
    std::cout << "  " << what << ": " << fixed(of.darts_per_second, 0) << " / "
              << fixed(over.darts_per_second, 0) << " = " << fixed(dartsRatio(of, over), 3) << "\n";
}

}  // namespace

const RunFigures* medianOf(const std::vector<RunFigures>& medians, const RunKind& kind) {
    for (const RunFigures& median : medians) {
        if (sameKind(median.kind, kind)) {
            return &median;
        }
    }
    return nullptr;
}

double dartsRatio(const RunFigures& of, const RunFigures& over) {
    return over.darts_per_second > 0 ? of.darts_per_second / over.darts_per_second : -1;
}

void printComparisons(const Options& options, const std::vector<RunFigures>& medians) {
    const Match501::Format first = runFormats(options).front();
    bool any = false;
    const auto heading = [&any] {
        if (!any) {
            std::cout << "comparisons (accepted darts/s of the medians)\n";
            any = true;
        }
    };
    for (const RunFigures& median : medians) {
        RunKind base = median.kind;
        base.format = first;
        const RunFigures* const single = medianOf(medians, base);
        if (single != nullptr && single != &median) {
            heading();
            printRatio(formatName(median.kind.format) + " / " + formatName(first) + " (" +
                           kindName(median.kind, options, KindPart::format) + ")",
                       median, *single);
        }
        RunKind other = median.kind;
        other.other_server = true;
        const RunFigures* const compared = medianOf(medians, other);
        if (compared != nullptr && compared != &median) {
            heading();
            printRatio("this server / the other (" +
                           kindName(median.kind, options, KindPart::server) + ")",
                       median, *compared);
        }
    }
}

}  // namespace game501::load
