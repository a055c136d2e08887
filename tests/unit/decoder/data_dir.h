// The benchmark corpus and the decoder vectors are kept in testdata/; the
// build passes their folder in. They belong to the repository, so a missing
// file is a failure, never a skip.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string TestDataPath(const std::string& relative) {
    return std::string(TEST_DATA_DIR) + "/" + relative;
}

inline bool LoadFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

#define LOAD_TEST_DATA(relative, bytes)                                                            \
    do {                                                                                           \
        const std::string path_ = TestDataPath(relative);                                          \
        ASSERT_TRUE(LoadFile(path_, bytes)) << "test data missing: " << path_;                     \
    } while (0)
