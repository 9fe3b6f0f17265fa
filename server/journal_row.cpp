#include "journal_row.h"

#include <optional>
#include <stdexcept>

namespace game501::server {

bool beginsGame(const JournalRow& row) {
    return row.accepted &&
           (row.command.kind == Command::Kind::start || row.command.kind == Command::Kind::reset);
}

JournalRow readRow(int board, const SQLite::Statement& query) {
    JournalRow row;
    row.board = board;
    row.event_id = static_cast<std::uint64_t>(query.getColumn(0).getInt64());
    row.time = query.getColumn(1).getInt64();
    const std::optional<Command> command =
        commandFrom(query.getColumn(2).getString(), query.getColumn(3).getString());
    if (!command) {
        throw std::runtime_error("journalen har en rad som inte går att läsa: tavla " +
                                 std::to_string(board) + ", händelse " +
                                 std::to_string(row.event_id));
    }
    row.command = *command;
    row.idempotency_key = query.getColumn(4).getString();
    row.accepted = query.getColumn(5).getInt() != 0;
    return row;
}

}  // namespace game501::server
