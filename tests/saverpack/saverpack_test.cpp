// saverpack's rules in process: titles and their code page, the names an
// installer's file name gives, extension fields, what may follow a package,
// and the PE checksum's sum.
#include "decoder/codec.h"
#include "package/writer.h"
#include "tools/saverpack/checksum.h"
#include "tools/saverpack/extract.h"
#include "tools/saverpack/examine.h"
#include "tools/saverpack/names.h"
#include "tests/saverpack/tool_run.h"

namespace {

using namespace saverpack;

TEST(Title, TakesWhatWindows1252HoldsUpTo32Characters) {
    const struct {
        std::string utf8;
        const char* problem; // "" for none
        std::string bytes;
    } cases[] = {
        {"Fish Tank", "", "Fish Tank"},
        {"Caf\xC3\xA9 \xE2\x82\xAC\xC5\xB8", "", "Caf\xE9 \x80\x9F"},
        {std::string(32, 'x'), "", std::string(32, 'x')},
        {std::string(16, 'x') + std::string(16, ' '), "",
         std::string(16, 'x') + std::string(16, ' ')},
        {"\xC3\xA9" + std::string(31, 'x'), "", "\xE9" + std::string(31, 'x')},
        {std::string(33, 'x'), "the limit is 32", ""},
        {"\xCE\xA9mega", "U+03A9", ""},
        {"tab\there", "control character", ""},
        {"\xC3", "not UTF-8", ""},
        {"\xC0\xA0", "not UTF-8", ""}, // an overlong blank
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        std::string problem = TitleProblem(c.utf8);
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        EXPECT_EQ(problem.empty(), *c.problem == 0);
        std::string bytes, bad;
        if (problem.empty()) {
            EXPECT_TRUE(Utf8ToWindows1252(c.utf8, bytes, bad));
            EXPECT_EQ(bytes, c.bytes);
        }
    }
}

TEST(Title, EveryCharacterOfTheCodePageComesBackTheSame) {
    for (int b = 0x20; b < 0x100; ++b) {
        std::string one(1, char(b)), back, bad;
        bool defined = b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D;
        EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(one), back, bad), defined) << b;
        if (defined) {
            EXPECT_EQ(back, one) << b;
        }
    }
}

TEST(InstallerName, GivesTheInstallersOwnNamesAndSaysWhatWillNotDo) {
    const struct {
        const char* file;
        const char* saver;
        const char* base;
        const char* error; // "" for none
        size_t warnings;
    } cases[] = {
        {"FishTank.exe", "FISHTANK.SCR", "FishTank", "", 0},
        {"my.saver.exe", "MY.SCR", "my.saver", "", 1},
        {"Fisch\xC3\xA4.exe", "FISCH\xC3\xA4.SCR", "Fisch\xC3\xA4", "", 0},
        {"a?b.exe", "A?B.SCR", "a?b", "", 1},
        {"...exe", ".SCR", "..", "\"..\"", 1},
        {"..exe", ".SCR", ".", "\".\"", 1},
        {".exe", ".SCR", "", "\"\"", 0},
        {".hidden.exe", ".SCR", ".hidden", "no name before", 1},
        {"con.exe", "CON.SCR", "con", "Windows device", 0},
        {"Lpt1.saver.exe", "LPT1.SCR", "Lpt1.saver", "Windows device", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        InstallerNames names = NamesOf(c.file);
        EXPECT_EQ(names.saverFileName, c.saver);
        EXPECT_EQ(names.baseName, c.base);
        std::string error = InstallerNameError(c.file);
        EXPECT_EQ(error.empty(), *c.error == 0) << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(InstallerNameWarnings(c.file).size(), c.warnings);
    }
    EXPECT_EQ(WindowsPath(InstalledPath(NamesOf("F.exe"), 3, 65535, ".TXT")),
              "TORVANIX\\MOREVANE\\F\\FILE65536.TXT");
    EXPECT_EQ(WindowsPath(InstalledPath(NamesOf("F.exe"), 2, 0, ".C\0\0")),
              "TORVANIX\\MOREVANE\\F\\FILE0000.C");
}

TEST(ExtensionField, RefusesWhatCouldLeadElsewhere) {
    const struct {
        const char field[4];
        const char* problem;
    } cases[] = {
        {{'.', 'B', 'M', 'P'}, ""},
        {{'.', 'C', 0, 0}, ""},
        {{0, 0, 0, 0}, ""},
        {{'\\', '.', '.', '\\'}, "path separator"},
        {{'/', 'x', 0, 0}, "path separator"},
        {{'.', '.', 0, 0}, "\"..\""},
        {{'.', ':', 'x', 0}, "':'"},
        {{'.', 0, 'X', 0}, "NUL before"},
        {{'.', 0x07, 0, 0}, "control"},
        {{'.', '*', 0, 0}, "does not allow"},
    };
    for (const auto& c : cases) {
        std::string problem = ExtensionProblem(c.field);
        EXPECT_EQ(problem.empty(), *c.problem == 0) << problem;
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
}

std::vector<uint8_t> BuiltStub() {
    return tooltest::ReadBytes(SAVERPACK_STUB);
}

// A tiny package is padded to the end of .rsrc, and a signature may follow
// its last entry after up to seven zeros; anything else there is told.
TEST(TrailingBytes, PaddingIsSoundOtherBytesAreAWarning) {
    pkg::PackageToWrite tiny{"T", 1, {{{'s'}, 0, ""}, {{'d'}, 0, ""}}};
    std::vector<uint8_t> installer = pkg::WriteInstaller(BuiltStub(), tiny);
    const struct {
        const char* name;
        std::vector<uint8_t> appended;
        bool warned;
    } cases[] = {
        {"padding only", {}, false},
        {"a byte of garbage", {0x55}, true},
        {"a zero past .rsrc", {0}, true},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes = installer;
        bytes.insert(bytes.end(), c.appended.begin(), c.appended.end());
        Examination x = Examine(pkg::MemoryBytes(bytes), "T.exe");
        EXPECT_TRUE(x.Sound()) << c.name;
        EXPECT_EQ(x.findings.size(), c.warned ? 1u : 0u) << c.name;
    }
}

// An entry may declare 2 GiB from a few bytes; a whole stream cannot give
// more than 24 bytes a byte, and nothing is decoded to tell.
TEST(Streams, AnOverDeclaredEntryIsToldWithoutDecoding) {
    std::vector<uint8_t> stream = EncodeStream(tooltest::TextLike(1000), Level::Best);
    pkg::PackageToWrite p{"T", 1, {{stream, 1000, ""}, {stream, 0x7FFFFFFF, ""}}};
    std::vector<uint8_t> bytes = pkg::WriteInstaller(BuiltStub(), p);
    Examination x = Examine(pkg::MemoryBytes(bytes), "T.exe");
    CheckStreams(pkg::MemoryBytes(bytes), x);
    ASSERT_EQ(x.findings.size(), 1u);
    EXPECT_EQ(x.findings[0].text.rfind("entry 1: it declares 2,147,483,647 bytes", 0), 0u);
    EXPECT_FALSE(x.CanExtract());
    EXPECT_EQ(MostDecodedFrom(uint32_t(stream.size())) >= 1000, true);
}

// Sums small enough to work by hand: the carry, the odd last byte and the
// field left out are where a sum goes wrong.
TEST(PeChecksum, SumsWordsFoldsCarriesAndLeavesTheFieldOut) {
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        uint64_t field;
        uint32_t checksum;
    } cases[] = {
        {"little-endian words plus the length", {1, 0, 2, 1}, 100, 0x0103 + 4},
        {"an odd last byte is a word's low byte", {1, 0, 5}, 100, 6 + 3},
        {"the carry comes back in", {0xFF, 0xFF, 0x02, 0x00}, 100, 2 + 4},
        {"the field counts as zeros", {9, 9, 9, 9, 1, 0}, 0, 1 + 6},
        {"a field at an odd offset", {1, 9, 9, 9, 9, 2}, 1, 0x0201 + 6},
        {"a field running past the end", {1, 0}, 1, 1 + 2},
        {"nothing at all", {}, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PeChecksum(pkg::MemoryBytes(c.bytes), c.field), c.checksum) << c.name;
}

} // namespace
