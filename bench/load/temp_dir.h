// A directory of its own for a run's files, the tokens file among them.
#pragma once

#include <string>
#include <vector>

namespace load {

// Removed with everything written into it.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() { remove(); }

    void remove() const;
    // Writes the file `name` and returns its path.
    std::string write(const std::string& name, const std::string& text);

private:
    std::string path_;
    std::vector<std::string> files_;
};

}  // namespace load
