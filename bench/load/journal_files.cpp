#include "journal_files.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <initializer_list>

namespace game501::load {
namespace {

constexpr const char* kDatabaseName = "journal.db";
constexpr const char* kInMemory = ":memory:";

double fileBytes(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? static_cast<double>(status.st_size) : -1;
}

}  // namespace

const char* journalName(JournalKind kind) { return kind == JournalKind::disk ? "disk" : "memory"; }

std::string journalData(JournalKind kind, TempDir& dir) {
    if (kind == JournalKind::memory) {
        return kInMemory;
    }
    // The log and shared memory of WAL mode, and the rollback journal of the
    // schema's first transaction: a server killed midway leaves them behind.
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        dir.adopt(std::string(kDatabaseName) + suffix);
    }
    return dir.adopt(kDatabaseName);
}

JournalBytes journalBytes(const std::string& data) {
    if (data == kInMemory) {
        return {};
    }
    return {fileBytes(data), fileBytes(data + "-wal")};
}

bool onTmpfs(const std::string& path) {
    struct statfs status {};
    return statfs(path.c_str(), &status) == 0 && status.f_type == TMPFS_MAGIC;
}

}  // namespace game501::load
