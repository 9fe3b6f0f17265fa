// A directory of its own for a run's files, the tokens file among them.
#pragma once

#include <string>
#include <vector>

namespace game501::load {

// Removed with everything written into it.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() { remove(); }

    // Where the directories are made: $TMPDIR, or /tmp.
    static std::string base();

    void remove() const;
    // Writes the file `name` and returns its path.
    std::string write(const std::string& name, const std::string& text);
    // Returns the path of `name`, a file that another process may write, to
    // be removed with the directory.
    std::string adopt(const std::string& name);

private:
    std::string path_;
    std::vector<std::string> files_;
};

}  // namespace game501::load
