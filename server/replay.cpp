#include "replay.h"

namespace game501::server {

Answer runCommand(Match& match, const Command& command) {
    switch (command.kind) {
        case Command::Kind::start:
            return match.start(command.players, Match::Format{command.legs, command.sets});
        case Command::Kind::dart:
            return match.addDart(command.notation, command.source);
        case Command::Kind::undo:
            return match.undo();
        case Command::Kind::clear:
            return match.markBoardClear();
        case Command::Kind::reset:
            break;
    }
    return match.reset();
}

Replay::Replay(const std::vector<JournalRow>& rows) : match_([this] { return time_; }) {
    for (const JournalRow& row : rows) {
        time_ = row.time;
        last_answer_ = runCommand(match_, row.command);
    }
}

}  // namespace game501::server
