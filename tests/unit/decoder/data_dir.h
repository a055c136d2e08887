// The shared corpus and vectors lie beside the source tree; the build passes
// their folder in. Tests that need them skip, naming what is missing.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string SharedPath(const std::string& relative) {
    return std::string(SHARED_DATA_DIR) + "/" + relative;
}

inline bool LoadFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

#define LOAD_SHARED_OR_SKIP(relative, bytes)                                                       \
    do {                                                                                           \
        if (!LoadFile(SharedPath(relative), bytes)) {                                              \
            GTEST_SKIP() << "shared data missing: " << SharedPath(relative);                       \
        }                                                                                          \
    } while (0)
