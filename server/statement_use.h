// One use of a statement prepared once and kept.
#pragma once

#include <SQLiteCpp/Statement.h>

namespace game501::server {

// Readies a kept statement for one use and resets it once the use ends, by
// return or by exception: a statement left on a row would keep its read
// transaction open, so that later reads saw the database as it was then and
// the writer could not check its log back in.
class StatementUse {
public:
    explicit StatementUse(SQLite::Statement& statement) : statement_(statement) {
        statement_.tryReset();
    }
    ~StatementUse() { statement_.tryReset(); }
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;

private:
    SQLite::Statement& statement_;
};

}  // namespace game501::server
