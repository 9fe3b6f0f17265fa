#include "temp_dir.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace load {

TempDir::TempDir() {
    const char* const base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/game501-load-XXXXXX";
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

std::string TempDir::write(const std::string& name, const std::string& text) {
    const std::string file = path_ + "/" + name;
    files_.push_back(file);
    std::ofstream out(file, std::ios::binary);
    out << text;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + file);
    }
    return file;
}

}  // namespace load
