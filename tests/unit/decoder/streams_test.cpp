// DecompressEntry and its buffered streams on the stand-in of Windows.

#include "decoder/codec.h"
#include "decoder/streams.h"
#include "tests/windows/host_control.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const Installer = "C:\\Downloads\\MySaver.exe";
const char* const Target = "C:\\windows\\MYSAVER.DAT";
const uint32_t EntryOffset = 1000;

std::vector<uint8_t> Sample(size_t size) {
    std::vector<uint8_t> data(size);
    uint32_t x = 12345;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245 + 12345;
        data[i] = static_cast<uint8_t>(i % 7 == 0 ? x >> 24 : 'a' + (i / 13) % 20);
    }
    return data;
}

class DecompressEntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/decoder-streams-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        root_ = dir;
        world_ = &host::Reset(root_);
        world_->modulePath = Installer;
        host::PutFile("C:\\windows\\placeholder.txt", {});
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + root_ + "'";
        if (system(cmd.c_str()) != 0) {
            ADD_FAILURE() << "cannot remove " << root_;
        }
    }

    // Places `stored` at EntryOffset of the installer, with other bytes
    // around it, and returns the count of bytes after it.
    void PutInstaller(const std::vector<uint8_t>& stored, size_t after = 64) {
        std::vector<uint8_t> file(EntryOffset, 0xEE);
        file.insert(file.end(), stored.begin(), stored.end());
        file.insert(file.end(), after, 0xDD);
        host::PutFile(Installer, file);
    }

    int Run(uint32_t originalSize, uint32_t storedSize, const char* target = Target) {
        world_->reads.clear();
        world_->writes.clear();
        return DecompressEntry(host::Instance(), EntryOffset, originalSize, storedSize, target);
    }

    std::vector<uint8_t> TargetBytes() {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(host::ReadFile(Target, bytes));
        return bytes;
    }

    std::string root_;
    host::World* world_ = nullptr;
};

TEST_F(DecompressEntryTest, WritesInBlocksOf16384AndALastOne) {
    struct Case {
        size_t size;
        std::vector<UINT> writes;
    };
    const Case cases[] = {
        {1, {1}},
        {16384, {16384}},
        {16385, {16384, 1}},
        {40000, {16384, 16384, 7232}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> original = Sample(c.size);
        std::vector<uint8_t> stored = EncodeStream(original, Level::Fast);
        PutInstaller(stored);
        ASSERT_EQ(Run(static_cast<uint32_t>(c.size), static_cast<uint32_t>(stored.size())), 1);
        std::vector<UINT> asked;
        for (const host::IoRecord& w : world_->writes) {
            asked.push_back(w.asked);
        }
        EXPECT_EQ(asked, c.writes) << c.size;
        EXPECT_EQ(TargetBytes(), original) << c.size;
        EXPECT_EQ(world_->openHandles, 0);
    }
}

TEST_F(DecompressEntryTest, ReadsNoByteAfterTheEntry) {
    // Nine bytes of stream and a zero byte: ten stored bytes, read at once.
    PutInstaller({0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0xD1, 0x02, 0x80, 0x00});
    ASSERT_EQ(Run(18, 10), 1);
    ASSERT_EQ(world_->reads.size(), 1u);
    EXPECT_EQ(world_->reads[0].asked, 10u);
    EXPECT_EQ(world_->reads[0].done, 10u);
    EXPECT_EQ(TargetBytes(), std::vector<uint8_t>({'a', 'b', 'c', 'd', 'e', 'f', 'a', 'b', 'c', 'd',
                                                   'e', 'f', 'a', 'b', 'c', 'd', 'e', 'f'}));
}

TEST_F(DecompressEntryTest, LongEntryIsReadIn16384ByteSteps) {
    std::vector<uint8_t> original = Sample(200000);
    std::vector<uint8_t> stored = EncodeStream(original, Level::Fast);
    ASSERT_GT(stored.size(), 2 * 16384u);
    PutInstaller(stored, 100000);
    ASSERT_EQ(Run(200000, static_cast<uint32_t>(stored.size())), 1);
    size_t total = 0;
    for (size_t i = 0; i < world_->reads.size(); ++i) {
        total += world_->reads[i].asked;
        if (i + 1 < world_->reads.size()) {
            EXPECT_EQ(world_->reads[i].asked, 16384u);
        }
    }
    EXPECT_LE(total, stored.size());
    EXPECT_EQ(TargetBytes(), original);
}

TEST_F(DecompressEntryTest, LastMatchPastTheEndLeavesExactlyTheOriginalSize) {
    PutInstaller({0x00});
    ASSERT_EQ(Run(3, 1), 1);
    EXPECT_EQ(TargetBytes(), std::vector<uint8_t>(3, 0x38));
}

TEST_F(DecompressEntryTest, ExistingTargetIsTruncated) {
    host::PutFile(Target, std::vector<uint8_t>(5000, 'Z'));
    PutInstaller({0x09, 0x0A, 0xCD, 0x00, 0x80});
    ASSERT_EQ(Run(10, 5), 1);
    EXPECT_EQ(TargetBytes(),
              std::vector<uint8_t>({'A', 'B', 'A', 'B', 'A', 'B', 'A', 'B', 'A', 'B'}));
}

TEST_F(DecompressEntryTest, FailuresReturnZeroAndCloseEverything) {
    std::vector<uint8_t> original = Sample(60000);
    std::vector<uint8_t> stored = EncodeStream(original, Level::Fast);
    uint32_t storedSize = static_cast<uint32_t>(stored.size());
    struct Case {
        const char* name;
        void (*arrange)(host::World&, const std::vector<uint8_t>&);
        const char* target;
    };
    const Case cases[] = {
        {"no module file name",
         [](host::World& w, const std::vector<uint8_t>&) { w.fail.moduleFileName = true; }, Target},
        {"installer path too long for its buffer",
         [](host::World& w, const std::vector<uint8_t>& s) {
             // The cut path names a file too: only the length gives it away.
             std::string directory = "C:\\" + std::string(150, 'd') + "\\";
             w.modulePath = directory + std::string(150, 'e') + "\\MySaver.exe";
             std::vector<uint8_t> file(EntryOffset, 0xEE);
             file.insert(file.end(), s.begin(), s.end());
             host::PutFile(w.modulePath.substr(0, 259), file);
         },
         Target},
        {"installer missing",
         [](host::World& w, const std::vector<uint8_t>&) {
             w.modulePath = "C:\\Downloads\\Gone.exe";
         },
         Target},
        {"target directory missing", [](host::World&, const std::vector<uint8_t>&) {},
         "C:\\windows\\NOSUCHDIR\\MYSAVER.DAT"},
        {"target read-only",
         [](host::World& w, const std::vector<uint8_t>&) { w.fail.readOnly.push_back(Target); },
         Target},
        {"disk full",
         [](host::World& w, const std::vector<uint8_t>&) { w.fail.writeBudget = 20000; }, Target},
        {"installer truncated",
         [](host::World&, const std::vector<uint8_t>& s) {
             std::vector<uint8_t> file(EntryOffset, 0xEE);
             file.insert(file.end(), s.begin(), s.begin() + static_cast<long>(s.size() / 2));
             host::PutFile(Installer, file);
         },
         Target},
    };
    for (const Case& c : cases) {
        world_ = &host::Reset(root_);
        world_->modulePath = Installer;
        host::PutFile("C:\\windows\\placeholder.txt", {});
        PutInstaller(stored);
        c.arrange(*world_, stored);
        EXPECT_EQ(Run(60000, storedSize, c.target), 0) << c.name;
        EXPECT_EQ(world_->openHandles, 0) << c.name;
    }
}

TEST_F(DecompressEntryTest, ShortWriteStopsWriting) {
    std::vector<uint8_t> original = Sample(60000);
    std::vector<uint8_t> stored = EncodeStream(original, Level::Fast);
    PutInstaller(stored);
    world_->fail.writeBudget = 20000;
    ASSERT_EQ(Run(60000, static_cast<uint32_t>(stored.size())), 0);
    ASSERT_EQ(world_->writes.size(), 2u);
    EXPECT_EQ(world_->writes[1].done, 20000u - 16384u);
    std::vector<uint8_t> kept = TargetBytes();
    EXPECT_EQ(kept, std::vector<uint8_t>(original.begin(), original.begin() + 20000));
}

TEST_F(DecompressEntryTest, StreamsStartAfreshForEveryEntry) {
    // A failed write must not leak into the next entry's stream state.
    std::vector<uint8_t> original = Sample(30000);
    std::vector<uint8_t> stored = EncodeStream(original, Level::Fast);
    PutInstaller(stored);
    world_->fail.writeBudget = 100;
    ASSERT_EQ(Run(30000, static_cast<uint32_t>(stored.size())), 0);
    world_->fail.writeBudget = -1;
    ASSERT_EQ(Run(30000, static_cast<uint32_t>(stored.size())), 1);
    EXPECT_EQ(TargetBytes(), original);
}

} // namespace
