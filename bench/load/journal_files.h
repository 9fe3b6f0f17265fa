// Where a run's server keeps its journal, and what it takes on the disk.
#pragma once

#include <string>

#include "temp_dir.h"

namespace game501::load {

// disk: a database file in the run's own directory; memory: the server's
// database in memory, for comparisons of speed only.
enum class JournalKind { disk, memory };

// "disk" or "memory", as --journal takes it.
const char* journalName(JournalKind kind);

// Returns the server's --data for a run: a file in `dir`, removed with it
// together with the files the database keeps beside it, or ":memory:".
std::string journalData(JournalKind kind, TempDir& dir);

// The bytes of a database file and of its write-ahead log; -1 where there
// is no such file.
struct JournalBytes {
    double file = -1;
    double wal = -1;
};

JournalBytes journalBytes(const std::string& data);

// Whether `path` is on a file system in memory, where a commit never waits
// for a disk.
bool onTmpfs(const std::string& path);

}  // namespace game501::load
