// saverpack's rules in process: titles and their code page, the names an
// installer's file name gives, extension fields, what may follow a package,
// and the PE checksum's sum.
#include "decoder/codec.h"
#include "package/writer.h"
#include "tools/saverpack/checksum.h"
#include "tools/saverpack/extract.h"
#include "tools/saverpack/examine.h"
#include "tools/saverpack/names.h"
#include "tools/saverpack/resources.h"
#include "tests/saverpack/icon_files.h"
#include "tests/saverpack/tool_run.h"

#include <functional>

namespace {

using namespace saverpack;
using tooltest::Png;

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

TEST(Version, TakesTwoToFourNumbersUpTo65535) {
    const struct {
        const char* text;
        std::vector<uint16_t> parts; // none: refused
    } cases[] = {
        {"1.2", {1, 2, 0, 0}},
        {"1.2.3.4", {1, 2, 3, 4}},
        {"0.0", {0, 0, 0, 0}},
        {"65535.65535.65535.65535", {65535, 65535, 65535, 65535}},
        {"007.10", {7, 10, 0, 0}},
        {"1.65536", {}},
        {"1.000065535", {}}, // past five digits, whatever their value
        {"99999999999999999999.1", {}},
        {"1", {}},
        {"1.2.3.4.5", {}},
        {"1.", {}},
        {".1", {}},
        {"1.+2", {}},
        {"1. 2", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        uint16_t parts[4] = {9, 9, 9, 9};
        std::string why = VersionProblem(c.text, parts);
        EXPECT_EQ(why.empty(), !c.parts.empty()) << c.text << ": " << why;
        if (why.empty()) {
            EXPECT_EQ(std::vector<uint16_t>(parts, parts + 4), c.parts) << c.text;
        }
    }
}

TEST(Version, TextsAreUpTo255CharactersWithoutControls) {
    std::string e255, e256;
    for (int i = 0; i < 255; ++i)
        e255 += "\xC3\xA9";
    e256 = e255 + "\xC3\xA9";
    const struct {
        std::string text;
        const char* problem; // "" for none
    } cases[] = {
        {"", ""},
        {e255, ""},
        {std::string(200, 'x') + std::string(55, '\x7E'), ""},
        {"\xF0\x9F\x90\x9F", ""}, // one character, two UTF-16 units
        {e256, "256 characters"},
        {std::string(256, 'x'), "256 characters"},
        {"a\nb", "control"},
        {"a\x7F", "control"},
        {"a\xC2\x9F", "control"},
        {"\xC2\xA0no-break", ""},
        {"\xE9", "not UTF-8"},
        {"\xED\xA0\x80", "not UTF-8"}, // a surrogate
    };
    for (const auto& c : cases) {
        std::string why = VersionTextProblem(c.text);
        EXPECT_NE(why.find(c.problem), std::string::npos) << c.text << ": " << why;
        EXPECT_EQ(why.empty(), *c.problem == 0) << c.text << ": " << why;
    }
}

// What create writes, list reads back: the fixed versions and every string
// in order, a character beyond U+FFFF whole.
TEST(Version, ReadsBackWhatItWrites) {
    VersionInfo info;
    uint16_t parts[4];
    ASSERT_EQ(VersionProblem("4.3.2.1", parts), "");
    std::copy(parts, parts + 4, info.version);
    info.versionText = "4.3.2.1";
    info.company = "Reef \xF0\x9F\x90\x9F Works";
    info.description = "d";
    info.productName = "Fish Tank Screen Saver";
    info.originalFilename = "FishTank.exe";
    std::vector<Resource> resources = {
        {{false, RtVersion, {}}, {false, 1, {}}, EnglishUs, 0, VersionResource(info), 0}};
    IdentityView view = ReadIdentity(resources);
    ASSERT_TRUE(view.hasVersion);
    EXPECT_EQ(view.fileVersion, "4.3.2.1");
    EXPECT_EQ(view.productVersion, "4.3.2.1");
    const std::vector<std::pair<std::string, std::string>> strings = {
        {"CompanyName", info.company},
        {"FileDescription", "d"},
        {"FileVersion", "4.3.2.1"},
        {"OriginalFilename", "FishTank.exe"},
        {"ProductName", "Fish Tank Screen Saver"},
        {"ProductVersion", "4.3.2.1"}};
    EXPECT_EQ(view.strings, strings);
    // Every block's length is its own bytes, and the whole is the resource.
    EXPECT_EQ(ReadLe16(resources[0].data.data()), resources[0].data.size());
}

// A second icon replaces the first: no image of the first is left, the
// ids start again at 1, and the rest of the stub's resources stay.
TEST(IconFile, ASquarePngIsAnIconOfOneImageAndOtherPicturesAreNamed) {
    auto withHeight = [](std::vector<uint8_t> png, uint32_t height) {
        for (int i = 0; i < 4; ++i)
            png[20 + i] = uint8_t(height >> (24 - 8 * i));
        return png;
    };
    std::vector<uint8_t> cut = Png(32);
    cut.resize(20);
    const struct {
        const char* name;
        std::vector<uint8_t> file;
        unsigned side; // 0: refused
        const char* says;
    } cases[] = {
        {"PNG of 256", Png(256), 256, ""},
        {"PNG of 16", Png(16), 16, ""},
        {"PNG of 257", Png(257), 0, "is a PNG image of 257x257 pixels; an icon from a PNG must"},
        {"PNG not square", withHeight(Png(32), 16), 0, "is a PNG image of 32x16 pixels"},
        {"PNG cut short", cut, 0, "is a PNG image cut short"},
        {"JPEG", {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F'}, 0, "is a JPEG image, not an icon"},
        {"GIF", {'G', 'I', 'F', '8', '9', 'a', 1, 0}, 0, "is a GIF image, not an icon"},
        {"BMP file", {'B', 'M', 0x36, 0, 0, 0, 0, 0}, 0, "is a BMP image, not an icon"},
        {"WebP", {'R', 'I', 'F', 'F', 9, 0, 0, 0, 'W', 'E', 'B', 'P'}, 0, "is a WebP image"},
        {"text", {'h', 'e', 'l', 'l', 'o', '!', '\n'}, 0, "is no .ico file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            std::vector<IconImage> images = ParseIconFile(c.file, "i.ico");
            ASSERT_NE(c.side, 0u) << "taken";
            ASSERT_EQ(images.size(), 1u);
            EXPECT_TRUE(images[0].Png());
            EXPECT_EQ(images[0].Width(), c.side);
            EXPECT_EQ(images[0].Height(), c.side);
            EXPECT_EQ(images[0].BitCount(), 32u); // 8-bit RGBA
            EXPECT_EQ(images[0].bytes, c.file);
        } catch (const Failure& e) {
            EXPECT_EQ(c.side, 0u) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind(std::string("i.ico: ") + c.says, 0), 0u)
                << e.what();
        }
    }
}

TEST(IconResources, ANewIconReplacesTheOldOneWhole) {
    auto image = [](uint8_t side, size_t size) {
        IconImage i{};
        i.entry[0] = i.entry[1] = side;
        i.entry[4] = 1;
        i.entry[6] = 32;
        i.bytes.assign(size, side);
        WriteLe32(i.bytes.data(), 40);
        WriteLe16(&i.bytes[12], 1);
        return i;
    };
    std::vector<uint8_t> stub = BuiltStub();
    auto resourcesOf = [](const std::vector<uint8_t>& image) {
        return ReadResources(pkg::MemoryBytes(image), pkg::CheckStubLayout(image));
    };
    std::vector<uint8_t> once =
        WithIdentity(stub, {{image(16, 300), image(32, 500), image(48, 700)}, {}});
    std::vector<uint8_t> twice = WithIdentity(once, {{image(24, 401), image(64, 903)}, {}});
    std::vector<Resource> before = resourcesOf(stub), after = resourcesOf(twice);
    std::vector<uint16_t> icons;
    for (const Resource& r : after)
        if (!r.type.named && r.type.id == RtIcon)
            icons.push_back(r.name.id);
    EXPECT_EQ(icons, (std::vector<uint16_t>{1, 2}));
    IdentityView view = ReadIdentity(after);
    ASSERT_EQ(view.icon.size(), 2u);
    EXPECT_EQ(view.icon[0].width, 24u);
    EXPECT_EQ(view.icon[1].bytes, 903u);
    EXPECT_TRUE(view.icon[0].present && view.icon[1].present);
    size_t kept = 0;
    for (const Resource& b : before) {
        if (!b.type.named && (b.type.id == RtIcon || b.type.id == RtGroupIcon))
            continue;
        for (const Resource& a : after)
            kept += a.type == b.type && a.name == b.name && a.language == b.language &&
                    a.data == b.data;
    }
    EXPECT_EQ(kept, before.size() - 2) << "LASTRES, the dialog and the manifest";
    // An odd-sized image leaves the next data aligned, the section its size.
    EXPECT_EQ(pkg::CheckStubLayout(twice).packageOffset % 8, 0u);
}

// What Windows needs of .rsrc beyond the locator's walk, each broken in an
// installer with an icon: an image Windows will not map is a problem, an
// icon or version it cannot find a warning.
TEST(IconResources, VerifyTellsWhatWindowsWouldNotFind) {
    IconImage image{};
    image.entry[0] = image.entry[1] = 16;
    image.bytes.assign(100, 0);
    WriteLe32(image.bytes.data(), 40);
    WriteLe16(&image.bytes[12], 1);
    pkg::PackageToWrite package{"T", 1, {{{'s'}, 0, ""}}};
    const std::vector<uint8_t> installer =
        pkg::WriteInstaller(WithIdentity(BuiltStub(), {{image}, {}}), package);
    const pkg::StubLayout layout = pkg::CheckImageLayout(pkg::MemoryBytes(installer));
    const size_t optional = layout.peOffset + 24;
    auto groupAt = [&](const std::vector<uint8_t>& bytes) {
        for (const Resource& r : ReadResources(pkg::MemoryBytes(bytes), layout))
            if (!r.type.named && r.type.id == RtGroupIcon)
                return size_t(r.at);
        return size_t(0);
    };
    const struct {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> change;
        bool problem;
        const char* says; // "" for no finding
    } cases[] = {
        {"as written", [](std::vector<uint8_t>&) {}, false, ""},
        {"SizeOfImage short of .rsrc",
         [&](std::vector<uint8_t>& b) { WriteLe32(&b[optional + 56], layout.rsrcVirtualAddress); },
         true, "SizeOfImage"},
        {"no resource directory entry",
         [&](std::vector<uint8_t>& b) { WriteLe32(&b[optional + 96 + 16], 0); }, false,
         "resource directory entry"},
        {"the group names an icon that is not there",
         [&](std::vector<uint8_t>& b) { WriteLe16(&b[groupAt(b) + 6 + 12], 77); }, false,
         "names icon 77, which is not there"},
        {"resource data past the section",
         [&](std::vector<uint8_t>& b) {
             uint32_t sections = ReadLe16(&b[layout.peOffset + 6]);
             WriteLe32(&b[layout.peOffset + 248 + 40 * (sections - 1) + 8], 64);
         },
         false, "runs past the end of .rsrc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = installer;
        c.change(bytes);
        Examination x = Examine(pkg::MemoryBytes(bytes), "T.exe");
        EXPECT_EQ(x.Sound(), !c.problem);
        ASSERT_EQ(x.findings.size(), *c.says ? 1u : 0u);
        if (*c.says) {
            EXPECT_NE(x.findings[0].text.find(c.says), std::string::npos) << x.findings[0].text;
        }
    }
}

} // namespace
