// The installer's icon and version information as another PE reader
// (python3-pefile) sees them, the stub's own resources kept around them, and
// the icon and version inputs saverpack must refuse.
#include "package/reader.h"
#include "package/writer.h"
#include "tests/saverpack/icon_files.h"
#include "tests/saverpack/tool_run.h"

#include <map>
#include <regex>
#include <set>

namespace {

using namespace tooltest;

const std::vector<IcoImage> FourSizes = {
    {16, 32, Dib(16, 32)}, {32, 8, Dib(32, 8)}, {48, 4, Dib(48, 4)}, {256, 32, Png(256)}};

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}
std::string Hex(const std::string& text) {
    return Hex(std::vector<uint8_t>(text.begin(), text.end()));
}

// What pefile reads of an installer, one fact a line: "KEY VALUE...".
const char ReadBack[] = R"(
import pefile, sys
pe = pefile.PE(sys.argv[1]); stub = pefile.PE(sys.argv[2])
def leaves(p):
    for t in p.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for l in n.directory.entries:
                d = l.data.struct
                yield (str(t.name) if t.name else t.id, n.id, l.id,
                       p.get_data(d.OffsetToData, d.Size), d.OffsetToData)
# The checksum from the raw file: a full parse of some strings alters the
# bytes pefile sums.
print('checksum', int(pefile.PE(sys.argv[1], fast_load=True).verify_checksum()))
print('first', pe.DIRECTORY_ENTRY_RESOURCE.entries[0].name)
mine = list(leaves(pe))
last = max(mine, key=lambda r: r[4])
print('last', last[0], last[1])
for t, n, l, data, at in mine:
    if t == 14 and n == 101:
        count = int.from_bytes(data[4:6], 'little')
        for i in range(count):
            e = data[6 + 14 * i: 20 + 14 * i]
            print('entry', *e[:4], int.from_bytes(e[4:6], 'little'), int.from_bytes(e[6:8], 'little'),
                  int.from_bytes(e[8:12], 'little'), int.from_bytes(e[12:14], 'little'))
    if t == 3:
        print('icon', n, data.hex())
    if t == 16:
        print('version', n, l)
kept = {(t, n, l): data for t, n, l, data, at in mine}
for t, n, l, data, at in leaves(stub):
    if t != 'LASTRES':
        print('kept', t, n, int(kept.get((t, n, l)) == data))
for fi in getattr(pe, 'FileInfo', [[]])[0]:
    for st in getattr(fi, 'StringTable', []):
        for k, v in st.entries.items():
            print('string', st.LangID.decode(), k.decode(), v.hex())
    for var in getattr(fi, 'Var', []):
        print('translation', var.entry[b'Translation'])
for f in getattr(pe, 'VS_FIXEDFILEINFO', []):
    print('fixed', f.FileVersionMS, f.FileVersionLS, f.ProductVersionMS, f.ProductVersionLS)
# What Windows reads before it runs the installer elevated: its flags, its
# relocations (the stub's, whatever the resources became) and its manifest.
print('dllcharacteristics', hex(pe.OPTIONAL_HEADER.DllCharacteristics))
def relocations(p):
    return [(b.struct.VirtualAddress, [e.rva for e in b.entries])
            for b in getattr(p, 'DIRECTORY_ENTRY_BASERELOC', [])]
print('relocations', int(len(relocations(pe)) > 0 and relocations(pe) == relocations(stub)))
print('sections', *[x.Name.rstrip(b'\0').decode() for x in pe.sections[-2:]])
import xml.etree.ElementTree as ET
for t, n, l, data, at in mine:
    if t == 24:
        for e in ET.fromstring(data).iter():
            tag = e.tag.split('}')[1]
            if tag == 'requestedExecutionLevel':
                print('manifest', tag, e.get('level'))
            if tag in ('dpiAware', 'dpiAwareness'):
                print('manifest', tag, e.text)
            if tag == 'assemblyIdentity' and e.get('name') == 'Microsoft.Windows.Common-Controls':
                print('manifest', 'common-controls', e.get('version'))
            if tag == 'supportedOS':
                print('manifest', tag, e.get('Id'))
)";

class Identity : public ScratchTest {
  public:
    ToolRun Run(const std::vector<std::string>& arguments) {
        return RunTool(SAVERPACK_BINARY, arguments, dir);
    }
    void Put(const std::string& name, const std::vector<uint8_t>& bytes) {
        fs::create_directories((dir / name).parent_path());
        WriteBytes(dir / name, bytes);
    }
    std::vector<std::string> CreateArguments(const std::string& out,
                                             const std::vector<std::string>& options) {
        Put("in/saver.scr", TextLike(30000));
        Put("in/data.cfg", Noise(2000));
        std::vector<std::string> arguments = {"create",       "-o",        out,
                                              "--title",      "Fish Tank", "--saver",
                                              "in/saver.scr", "--data",    "in/data.cfg"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return arguments;
    }
    // pefile's facts: each key's lines, the rest of each line as its value.
    std::multimap<std::string, std::string> Facts(const std::string& python,
                                                  const std::string& installer) {
        WriteBytes(dir / "read_back.py",
                   std::vector<uint8_t>(ReadBack, ReadBack + sizeof ReadBack - 1));
        std::string command = python + " " + (dir / "read_back.py").string() + " " +
                              (dir / installer).string() + " " SAVERPACK_STUB " > " +
                              (dir / "facts.txt").string();
        EXPECT_EQ(system(command.c_str()), 0) << command;
        std::multimap<std::string, std::string> facts;
        std::istringstream in(ReadText(dir / "facts.txt"));
        for (std::string line; std::getline(in, line);) {
            size_t space = line.find(' ');
            facts.emplace(line.substr(0, space),
                          space == std::string::npos ? "" : line.substr(space + 1));
        }
        return facts;
    }
};

std::vector<std::string> All(const std::multimap<std::string, std::string>& facts,
                             const std::string& key) {
    std::vector<std::string> values;
    auto [from, to] = facts.equal_range(key);
    for (auto it = from; it != to; ++it)
        values.push_back(it->second);
    return values;
}

TEST_F(Identity, PefileReadsBackTheIconAndVersionAroundTheStubsOwnResources) {
    std::string python = PythonWithPefile();
    if (python.empty())
        GTEST_SKIP() << "python3-pefile is not installed (scripts/install-deps installs it)";
    Put("fish.ico", Ico(FourSizes));
    std::string longCompany; // 255 characters, 510 bytes
    for (int i = 0; i < 255; ++i)
        longCompany += "\xC3\xA9";
    const std::string stubIcon = "32x32 4-bit";
    const struct {
        const char* name;
        std::vector<std::string> options;
        bool icon;                                  // the installer's own icon
        std::map<std::string, std::string> strings; // none: no version resource
        std::string fixed;                          // pefile's four fixed fields
    } cases[] = {
        {"everything",
         {"--icon", "fish.ico", "--product-version", "1.2.65535.4", "--company", longCompany,
          "--description", "Fish in a tank", "--copyright", "\xC2\xA9 2026 Caf\xC3\xA9"},
         true,
         {{"CompanyName", longCompany},
          {"FileDescription", "Fish in a tank"},
          {"FileVersion", "1.2.65535.4"},
          {"LegalCopyright", "\xC2\xA9 2026 Caf\xC3\xA9"},
          {"OriginalFilename", "FishTank.exe"},
          {"ProductName", "Fish Tank Screen Saver"},
          {"ProductVersion", "1.2.65535.4"}},
         "65538 4294901764 65538 4294901764"},
        {"icon only", {"--icon", "fish.ico"}, true, {}, ""},
        {"version only, two parts",
         {"--product-version", "3.07"},
         false,
         {{"FileDescription", "Fish Tank Screen Saver Installation"},
          {"FileVersion", "3.7"},
          {"OriginalFilename", "FishTank.exe"},
          {"ProductName", "Fish Tank Screen Saver"},
          {"ProductVersion", "3.7"}},
         "196615 0 196615 0"},
        {"company only",
         {"--company", "Reef Works"},
         false,
         {{"CompanyName", "Reef Works"},
          {"FileDescription", "Fish Tank Screen Saver Installation"},
          {"OriginalFilename", "FishTank.exe"},
          {"ProductName", "Fish Tank Screen Saver"}},
         "0 0 0 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> create = CreateArguments("FishTank.exe", c.options);
        ToolRun made = Run(create);
        ASSERT_EQ(made.exitCode, 0) << made.err;
        std::vector<uint8_t> first = ReadBytes(dir / "FishTank.exe");
        ASSERT_EQ(Run(create).exitCode, 0);
        EXPECT_EQ(ReadBytes(dir / "FishTank.exe"), first) << "two creates differ";

        std::multimap<std::string, std::string> facts = Facts(python, "FishTank.exe");
        EXPECT_EQ(All(facts, "checksum"), std::vector<std::string>{"1"});
        EXPECT_EQ(All(facts, "first"), std::vector<std::string>{"LASTRES"});
        EXPECT_EQ(All(facts, "last"), std::vector<std::string>{"LASTRES 1000"});
        // The stub's icon goes only for the author's; the rest stays as it was.
        for (const std::string& kept : All(facts, "kept")) {
            bool icon = kept.rfind("3 ", 0) == 0 || kept.rfind("14 ", 0) == 0;
            EXPECT_EQ(kept.back(), icon && c.icon ? '0' : '1') << kept;
        }
        EXPECT_EQ(All(facts, "kept").size(), 4u) << "icon, group, dialog and manifest";

        // The group's entries name the RT_ICONs, and those are all there are.
        std::vector<std::string> entries = All(facts, "entry"), icons = All(facts, "icon");
        std::set<std::string> named, present;
        for (const std::string& e : entries)
            named.insert(e.substr(e.rfind(' ') + 1));
        for (const std::string& i : icons)
            present.insert(i.substr(0, i.find(' ')));
        EXPECT_EQ(named, present);
        if (c.icon) {
            ASSERT_EQ(entries.size(), FourSizes.size());
            for (size_t i = 0; i < FourSizes.size(); ++i) {
                const IcoImage& image = FourSizes[i];
                std::string id = std::to_string(i + 1), side = std::to_string(image.side % 256);
                std::string colours =
                    image.bitCount < 8 ? std::to_string(1u << image.bitCount) : "0";
                EXPECT_EQ(entries[i], side + " " + side + " " + colours + " 0 1 " +
                                          std::to_string(image.bitCount) + " " +
                                          std::to_string(image.bytes.size()) + " " + id);
                EXPECT_EQ(icons[i], id + " " + Hex(image.bytes));
            }
        } else {
            EXPECT_EQ(entries.size(), 1u) << "the stub's own icon";
        }

        std::map<std::string, std::string> strings;
        for (const std::string& s : All(facts, "string")) {
            std::istringstream fields(s);
            std::string language, key, value;
            fields >> language >> key >> value;
            EXPECT_EQ(language, "040904B0");
            strings[key] = value;
        }
        std::map<std::string, std::string> expected;
        for (const auto& [key, value] : c.strings)
            expected[key] = Hex(value);
        EXPECT_EQ(strings, expected);
        if (c.strings.empty()) {
            EXPECT_TRUE(All(facts, "version").empty());
        } else {
            EXPECT_EQ(All(facts, "version"), std::vector<std::string>{"1 1033"});
            EXPECT_EQ(All(facts, "translation"), std::vector<std::string>{"0x0409 0x04b0"});
            EXPECT_EQ(All(facts, "fixed"), std::vector<std::string>{c.fixed});
        }

        // saverpack's own reading: list, verify, extract.
        ToolRun list = Run({"list", "--json", "FishTank.exe"});
        ASSERT_EQ(list.exitCode, 0) << list.err;
        std::vector<std::string> widths = Matches(list.out, "\"width\": (\\d+)");
        const std::vector<std::string> ownWidths = {"16", "32", "48", "256"}, stubWidths = {"32"};
        EXPECT_EQ(widths, c.icon ? ownWidths : stubWidths);
        EXPECT_EQ(Matches(list.out, "\"format\": \"(\\w+)\"").back(), c.icon ? "png" : "bmp");
        EXPECT_EQ(list.out.find("\"version\": null") == std::string::npos, !c.strings.empty());
        if (!c.strings.empty()) {
            EXPECT_EQ(Matches(list.out, "\"ProductName\": \"([^\"]*)\""),
                      std::vector<std::string>{"Fish Tank Screen Saver"});
        }
        ToolRun text = Run({"list", "FishTank.exe"});
        EXPECT_NE(text.out.find(c.icon
                                    ? "16x16 32-bit, 32x32 8-bit, 48x48 4-bit, 256x256 32-bit PNG"
                                    : stubIcon),
                  std::string::npos)
            << text.out;
        ToolRun verify = Run({"verify", "FishTank.exe"});
        EXPECT_EQ(verify.exitCode, 0) << verify.out;
        EXPECT_EQ(std::count(verify.out.begin(), verify.out.end(), '\n'), 1) << verify.out;
        ToolRun extract = Run({"extract", "FishTank.exe", "-C", "x"});
        ASSERT_EQ(extract.exitCode, 0) << extract.err;
        EXPECT_EQ(ReadBytes(dir / "x/FISHTANK.SCR"), ReadBytes(dir / "in/saver.scr"));
        EXPECT_EQ(ReadBytes(dir / "x/TORVANIX/MOREVANE/FishTank/FishTank.DAT"),
                  ReadBytes(dir / "in/data.cfg"));
        fs::remove_all(dir / "x");
    }
}

// Without the identity options nothing before the package differs from the
// stub but the checksum, which must fit the new file.
TEST_F(Identity, WithoutItsOptionsTheStubIsKeptByteForByte) {
    ASSERT_EQ(Run(CreateArguments("Plain.exe", {})).exitCode, 0);
    std::vector<uint8_t> stub = ReadBytes(SAVERPACK_STUB), installer = ReadBytes(dir / "Plain.exe");
    uint32_t packageAt = pkg::CheckStubLayout(stub).packageOffset;
    ASSERT_GT(installer.size(), packageAt);
    size_t checksum = ReadLe32(&stub[60]) + 24 + 64;
    for (size_t i = checksum; i < checksum + 4; ++i)
        installer[i] = stub[i];
    EXPECT_TRUE(std::equal(stub.begin(), stub.begin() + packageAt, installer.begin()));
}

TEST_F(Identity, RefusesABadIconOrVersionInOneLineLeavingNothingBehind) {
    std::vector<uint8_t> good = Ico(FourSizes);
    auto withCount = [&](unsigned count) {
        std::vector<uint8_t> b = good;
        b[4] = uint8_t(count);
        b[5] = uint8_t(count >> 8);
        return b;
    };
    auto withEntryField = [&](size_t image, size_t field, uint32_t value) {
        std::vector<uint8_t> b = good;
        for (int i = 0; i < 4; ++i)
            b[6 + 16 * image + field + i] = uint8_t(value >> (8 * i));
        return b;
    };
    std::vector<IcoImage> many(65, {16, 32, Dib(16, 32)});
    std::string over255;
    for (int i = 0; i < 256; ++i)
        over255 += "\xC3\xA9";
    std::vector<uint8_t> notAnImage = good;
    notAnImage[6 + 16 * 4] = 41; // the first image's header size
    std::vector<uint8_t> small = Ico({{16, 32, Png(16)}});
    small[4] = 40;
    const struct {
        const char* name;
        std::vector<uint8_t> icon; // as bad.ico; none: the options alone
        std::vector<std::string> options;
        const char* says;
        const char* out = "o.exe";
    } cases[] = {
        {"a bitmap, not an icon", Dib(16, 32), {"--icon", "bad.ico"}, "bad.ico: is no .ico file"},
        {"an empty file", {}, {"--icon", "bad.ico"}, "bad.ico: is no .ico file"},
        {"a cursor",
         [&] {
             auto b = good;
             b[2] = 2;
             return b;
         }(),
         {"--icon", "bad.ico"},
         "bad.ico: is no .ico file"},
        {"no images", withCount(0), {"--icon", "bad.ico"}, "bad.ico: holds no image"},
        {"count past the end",
         small,
         {"--icon", "bad.ico"},
         "bad.ico: its directory of 40 images runs past the end"},
        {"more than 64 images",
         Ico(many),
         {"--icon", "bad.ico"},
         "bad.ico: holds 65 images; the limit is 64"},
        {"image past the end",
         withEntryField(3, 8, uint32_t(good.size())),
         {"--icon", "bad.ico"},
         "bad.ico: image 4 (bytes"},
        {"offset past the end",
         withEntryField(0, 12, 0xFFFFFFF0u),
         {"--icon", "bad.ico"},
         "bad.ico: image 1 (bytes 4,294,967,280"},
        {"image of zero bytes",
         withEntryField(1, 8, 0),
         {"--icon", "bad.ico"},
         "bad.ico: image 2 has zero bytes"},
        {"image neither PNG nor bitmap",
         notAnImage,
         {"--icon", "bad.ico"},
         "bad.ico: image 1 is neither"},
        {"missing icon", {}, {"--icon", "none.ico"}, "none.ico: cannot read it"},
        {"version part above 65535", {}, {"--product-version", "1.65536"}, "above 65535"},
        {"version part not a number", {}, {"--product-version", "1.2.x"}, "A.B, A.B.C or A.B.C.D"},
        {"version of one part", {}, {"--product-version", "7"}, "A.B, A.B.C or A.B.C.D"},
        {"version of five parts", {}, {"--product-version", "1.2.3.4.5"}, "A.B, A.B.C"},
        {"version with an empty part", {}, {"--product-version", "1..2"}, "A.B, A.B.C"},
        {"negative version part", {}, {"--product-version", "1.-2"}, "A.B, A.B.C"},
        {"text over 255 characters",
         {},
         {"--company", over255},
         "--company: it is 256 characters long; the limit is 255"},
        {"text with a tab",
         {},
         {"--copyright", "a\tb"},
         "--copyright: it holds a control character"},
        {"text with a C1 control",
         {},
         {"--description", "a\xC2\x85"},
         "--description: it holds a control"},
        {"text not UTF-8",
         {},
         {"--company", "caf\xE9"},
         "--company: it holds bytes that are not UTF-8"},
        {"output that is the icon",
         good,
         {"--icon", "./bad.ico"},
         "./bad.ico: is also the installer to write",
         "bad.ico"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> arguments = CreateArguments(c.out, c.options);
        if (std::string(c.name) != "missing icon")
            Put("bad.ico", c.icon);
        std::vector<std::string> before = Contents();
        ToolRun run = Run(arguments);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(run.err.rfind("saverpack: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(Contents(), before);
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
}

// Windows 10 and 11 run an elevated download with ASLR and DEP, and draw it
// sharp and themed only when its manifest asks: the stub says so, and an
// installer made from it keeps saying so, whatever its resources became.
TEST_F(Identity, InstallersKeepTheStubsFlagsRelocationsAndManifest) {
    std::string python = PythonWithPefile();
    if (python.empty())
        GTEST_SKIP() << "python3-pefile is not installed (scripts/install-deps installs it)";
    fs::copy_file(SAVERPACK_STUB, dir / "stub.exe");
    ASSERT_EQ(Run(CreateArguments("Plain.exe", {})).exitCode, 0);
    Put("fish.ico", Ico(FourSizes));
    ASSERT_EQ(Run(CreateArguments("Identity.exe", {"--icon", "fish.ico", "--product-version", "2.1"}))
                  .exitCode,
              0);
    const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
        {"dllcharacteristics", {"0x140"}}, // dynamic base, NX compatible
        {"relocations", {"1"}},
        {"sections", {".reloc .rsrc"}},
        {"manifest",
         {"requestedExecutionLevel requireAdministrator",
          "common-controls 6.0.0.0",
          "dpiAware true/pm",
          "dpiAwareness PerMonitorV2, PerMonitor",
          "supportedOS {e2011457-1546-43c5-a5fe-008deee3d3f0}",
          "supportedOS {35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
          "supportedOS {4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
          "supportedOS {1f676c76-80e1-4239-95bb-83d0f6d0da78}",
          "supportedOS {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}},
    };
    for (const char* installer : {"stub.exe", "Plain.exe", "Identity.exe"}) {
        std::multimap<std::string, std::string> facts = Facts(python, installer);
        for (const auto& [key, values] : expected)
            EXPECT_EQ(All(facts, key), values) << installer << ": " << key;
    }
}

// Signing at create and afterwards: the laid-out .rsrc is signed like any
// other, and the checksum stays the file's.
TEST_F(Identity, SignsAnInstallerWithAnIconAndVersion) {
    std::string python = PythonWithPefile();
    if (python.empty())
        GTEST_SKIP() << "python3-pefile is not installed (scripts/install-deps installs it)";
    ASSERT_TRUE(MakeSelfSignedCertificate(dir, "Reef Works"));
    Put("fish.ico", Ico(FourSizes));
    const std::vector<std::string> identity = {"--icon", "fish.ico",  "--product-version",
                                               "2.1",    "--company", "Reef Works"};
    std::vector<std::string> atCreate = CreateArguments("Signed.exe", identity);
    atCreate.insert(atCreate.end(), {"--cert", "cert.pem", "--key", "key.pem"});
    ASSERT_EQ(Run(atCreate).exitCode, 0);
    ASSERT_EQ(Run(CreateArguments("Later.exe", identity)).exitCode, 0);
    ToolRun sign = Run({"sign", "Later.exe", "--cert", "cert.pem", "--key", "key.pem"});
    ASSERT_EQ(sign.exitCode, 0) << sign.err;
    for (const char* installer : {"Signed.exe", "Later.exe"}) {
        SCOPED_TRACE(installer);
        EXPECT_EQ(system(("osslsigncode verify -CAfile " + (dir / "cert.pem").string() + " -in " +
                          (dir / installer).string() + " >/dev/null 2>&1")
                             .c_str()),
                  0);
        EXPECT_EQ(All(Facts(python, installer), "checksum"), std::vector<std::string>{"1"});
        ToolRun verify = Run({"verify", installer, "--ca", "cert.pem"});
        EXPECT_EQ(verify.exitCode, 0) << verify.out;
        EXPECT_EQ(std::count(verify.out.begin(), verify.out.end(), '\n'), 1) << verify.out;
        EXPECT_NE(Run({"list", installer}).out.find("CompanyName        Reef Works"),
                  std::string::npos);
    }
}

} // namespace
