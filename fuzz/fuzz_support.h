// What the fuzz targets share: how a broken property is reported, and the
// entry point that libFuzzer or the corpus replay calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace game501::fuzz {

// Aborts so that libFuzzer saves the input and a replay fails its test.
[[noreturn]] inline void fail(const std::string& what) {
    std::cerr << "property broken: " << what << '\n';
    std::abort();
}

inline void require(bool condition, const std::string& what) {
    if (!condition) {
        fail(what);
    }
}

// Fails with the problem a document check found, if any.
inline void requireNoProblem(const std::string& problem, const std::string& context) {
    if (!problem.empty()) {
        fail(context + ": " + problem);
    }
}

}  // namespace game501::fuzz
