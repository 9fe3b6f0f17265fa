#include "run_kind.h"

#include "options.h"
#include "script.h"

namespace game501::load {
namespace {

bool sameFormat(const Match501::Format& a, const Match501::Format& b) {
    return a.legs == b.legs && a.sets == b.sets;
}

}  // namespace

bool sameKind(const RunKind& a, const RunKind& b) {
    return a.journal == b.journal && sameFormat(a.format, b.format) &&
           a.other_server == b.other_server;
}

std::vector<Match501::Format> runFormats(const Options& options) {
    if (options.against_single_game && !isSingleGame(options.format)) {
        return {Match501::Format{}, options.format};
    }
    return {options.format};
}

std::vector<RunKind> runKinds(const Options& options) {
    std::vector<RunKind> kinds;
    for (const bool other : {false, true}) {
        if (other && options.compare_server.empty()) {
            continue;
        }
        for (const Match501::Format& format : runFormats(options)) {
            for (const JournalKind journal : options.journals) {
                kinds.push_back({journal, format, other});
            }
        }
    }
    return kinds;
}

std::string formatName(const Match501::Format& format) {
    if (isSingleGame(format)) {
        return "a single game";
    }
    const std::string legs = std::to_string(format.legs) + (format.legs == 1 ? " leg" : " legs");
    return format.sets == 1 ? "first to " + legs
                            : "first to " + std::to_string(format.sets) + " sets of " + legs;
}

std::string kindName(const RunKind& kind, const Options& options, KindPart leave_out) {
    std::string name = std::string("journal ") + journalName(kind.journal);
    const bool formats_differ = runFormats(options).size() > 1;
    if (leave_out != KindPart::format && (formats_differ || !isSingleGame(kind.format))) {
        name += ", " + formatName(kind.format);
    }
    if (leave_out != KindPart::server && !options.compare_server.empty()) {
        name += kind.other_server ? ", the other server" : ", this server";
    }
    return name;
}

}  // namespace game501::load
