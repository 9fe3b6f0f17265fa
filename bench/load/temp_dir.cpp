#include "temp_dir.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace game501::load {

std::string TempDir::base() {
    const char* const tmpdir = std::getenv("TMPDIR");
    return tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
}

TempDir::TempDir() {
    std::string pattern = base() + "/game501-load-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    path_ = pattern;
}

void TempDir::remove() const {
    for (const std::string& file : files_) {
        unlink(file.c_str());
    }
    rmdir(path_.c_str());
}

std::string TempDir::adopt(const std::string& name) {
    files_.push_back(path_ + "/" + name);
    return files_.back();
}

std::string TempDir::write(const std::string& name, const std::string& text) {
    const std::string file = adopt(name);
    std::ofstream out(file, std::ios::binary);
    out << text;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + file);
    }
    return file;
}

}  // namespace game501::load
