// Streams made by an independent encoder decode to their originals.

#include "decoder/codec.h"
#include "tests/unit/decoder/data_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Vectors, DecodeToTheirOriginals) {
    struct Case {
        const char* stream;
        std::vector<const char*> originals; // concatenated, in order
        size_t size;
    };
    const Case cases[] = {
        {"notes.lzh", {"notes.txt"}, 63233},
        {"tank640.lzh", {"tank640.bmp"}, 921654},
        {"mixed.lzh",
         {"tank640.bmp", "sprites256.bmp", "chime.wav", "voice.wav", "notes.txt",
          "saver_sample.exe"},
         1773220},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> stored;
        LOAD_TEST_DATA(std::string("vectors/") + c.stream, stored);
        std::vector<uint8_t> expected;
        for (const char* name : c.originals) {
            std::vector<uint8_t> part;
            LOAD_TEST_DATA(std::string("corpus/") + name, part);
            expected.insert(expected.end(), part.begin(), part.end());
        }
        ASSERT_EQ(expected.size(), c.size) << c.stream;
        EXPECT_EQ(DecodeMemory(stored, static_cast<uint32_t>(c.size)), expected) << c.stream;
    }
}

} // namespace
