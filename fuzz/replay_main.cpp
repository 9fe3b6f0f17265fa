// Runs a fuzz target over saved inputs without libFuzzer, so any compiler can
// replay the corpus. Arguments are files or directories of files; a
// directory's files run in name order so a failure is reproducible.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " FILE_OR_DIRECTORY...\n";
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        if (fs::is_directory(path)) {
            std::vector<fs::path> files;
            for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else if (fs::is_regular_file(path)) {
            inputs.push_back(path);
        } else {
            std::cerr << "no such input: " << path << '\n';
            return 2;
        }
    }
    if (inputs.empty()) {
        std::cerr << "no inputs to replay\n";
        return 2;
    }
    for (const fs::path& path : inputs) {
        const std::vector<std::uint8_t> bytes = readBytes(path);
        std::cerr << "replaying " << path.filename().string() << '\n';
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::cout << "replayed " << inputs.size() << " inputs\n";
    return 0;
}
