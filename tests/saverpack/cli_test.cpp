// saverpack as its users run it: round trips through every command, the
// inputs it must refuse (each with one line on stderr, its exit code, and
// nothing left behind), Ctrl-C, signing, and the PE checksum as another
// tool reads it.
#include "package/format.h"
#include "package/reader.h"
#include "tests/saverpack/tool_run.h"

#include <functional>
#include <map>
#include <regex>

namespace {

using namespace tooltest;

class Saverpack : public ScratchTest {
  public:
    ToolRun Run(const std::vector<std::string>& arguments, int interruptAfterMs = 0) {
        return RunTool(SAVERPACK_BINARY, arguments, dir, interruptAfterMs);
    }
    void Put(const std::string& name, const std::vector<uint8_t>& bytes) {
        fs::create_directories((dir / name).parent_path());
        WriteBytes(dir / name, bytes);
    }
    // Every file below the folder with its bytes.
    std::map<std::string, std::vector<uint8_t>> Snapshot() const {
        std::map<std::string, std::vector<uint8_t>> files;
        for (const std::string& name : Contents())
            if (fs::is_regular_file(dir / name))
                files[name] = ReadBytes(dir / name);
        return files;
    }
    // A saver, a data file and one further file, created into `out`.
    ToolRun CreateSample(const std::string& out, std::vector<std::string> options = {}) {
        Put("in/saver.scr", TextLike(40000));
        Put("in/data.cfg", TextLike(3000));
        Put("in/picture.bmp", TextLike(20000));
        std::vector<std::string> arguments = {"create",       "-o",        out,
                                              "--title",      "Fish Tank", "--saver",
                                              "in/saver.scr", "--data",    "in/data.cfg"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back("in/picture.bmp");
        return Run(arguments);
    }
};

TEST_F(Saverpack, RoundTripsGiveBackTheInputBytes) {
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::vector<uint8_t> third;
        std::vector<std::string> methods;
    } cases[] = {
        {"stored", {"--store"}, TextLike(20000), {"stored", "stored", "stored"}},
        {"fast", {"--level", "fast"}, TextLike(20000), {"compressed", "compressed", "compressed"}},
        {"best", {}, TextLike(20000), {"compressed", "compressed", "compressed"}},
        {"mixed", {}, Noise(30000), {"compressed", "compressed", "stored"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::vector<uint8_t>> inputs = {TextLike(40000), TextLike(3000), c.third};
        Put("in/saver.scr", inputs[0]);
        Put("in/data.cfg", inputs[1]);
        Put("in/file.bmp", inputs[2]);
        std::vector<std::string> create = {
            "create",       "-o",     "FishTank.exe", "--title",        "Fish Tank", "--saver",
            "in/saver.scr", "--data", "in/data.cfg",  "--first-number", "7",         "in/file.bmp"};
        create.insert(create.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(Run(create).exitCode, 0);
        std::vector<uint8_t> first = ReadBytes(dir / "FishTank.exe");
        ASSERT_EQ(Run(create).exitCode, 0);
        EXPECT_EQ(ReadBytes(dir / "FishTank.exe"), first) << "two creates differ";

        ToolRun list = Run({"list", "--json", "FishTank.exe"});
        ASSERT_EQ(list.exitCode, 0) << list.err;
        EXPECT_EQ(Matches(list.out, "\"method\": \"(\\w+)\""), c.methods);
        EXPECT_EQ(Matches(list.out, "\"totalInstallSize\": (\\d+)"),
                  std::vector<std::string>{std::to_string(43000 + c.third.size())});
        EXPECT_EQ(Matches(list.out, "\"path\": \"([^\"]+)\"")[2],
                  "TORVANIX\\\\MOREVANE\\\\FishTank\\\\FILE0007.BMP");
        ToolRun verify = Run({"verify", "FishTank.exe"});
        EXPECT_EQ(verify.exitCode, 0) << verify.out;

        ToolRun extract = Run({"extract", "FishTank.exe", "-C", "x"});
        ASSERT_EQ(extract.exitCode, 0) << extract.err;
        const fs::path data = dir / "x/TORVANIX/MOREVANE/FishTank";
        EXPECT_EQ(ReadBytes(dir / "x/FISHTANK.SCR"), inputs[0]);
        EXPECT_EQ(ReadBytes(data / "FishTank.DAT"), inputs[1]);
        EXPECT_EQ(ReadBytes(data / "FILE0007.BMP"), inputs[2]);
        EXPECT_EQ(Run({"extract", "FishTank.exe", "-C", "x"}).exitCode, 1) << "kept existing";
        EXPECT_EQ(Run({"extract", "FishTank.exe", "-C", "x", "--force"}).exitCode, 0);
        fs::remove_all(dir / "x");
    }
}

// The directory record of entry `index` in an installer's bytes.
unsigned char* RecordOf(std::vector<uint8_t>& installer, size_t index) {
    pkg::FoundPackage where = pkg::FindPackage(pkg::MemoryBytes(installer));
    return &installer[where.headerOffset + PackageHeaderSize + PackageEntrySize * index];
}

void ChangeEntry(const fs::path& installer, size_t index,
                 const std::function<void(PackageEntry&)>& change) {
    std::vector<uint8_t> bytes = ReadBytes(installer);
    PackageEntry e = ParsePackageEntry(RecordOf(bytes, index));
    change(e);
    FormatPackageEntry(e, RecordOf(bytes, index));
    WriteBytes(installer, bytes);
}

size_t ChecksumAt(const fs::path& installer) {
    return ReadLe32(&ReadBytes(installer)[60]) + 24 + 64;
}

void FlipBytes(const fs::path& installer, size_t at, size_t count) {
    std::vector<uint8_t> bytes = ReadBytes(installer);
    for (size_t i = at; i < at + count; ++i)
        bytes[i] ^= 0x5A;
    WriteBytes(installer, bytes);
}

TEST_F(Saverpack, RefusesBadInputsInOneLineLeavingNothingBehind) {
    const std::string long33(33, 'x');
    const struct {
        const char* name;
        std::function<void(Saverpack&)> setup; // after the sample installer good.exe is made
        std::vector<std::string> arguments;
        int exitCode;
        const char* says; // on stderr, or on stdout for verify
    } cases[] = {
        {"missing input",
         {},
         {"create", "-o", "o.exe", "--title", "t", "--saver", "no.scr"},
         1,
         "no.scr: cannot read it"},
        {"input that is a folder",
         {},
         {"create", "-o", "o.exe", "--title", "t", "--saver", "in"},
         1,
         "in: is not a file"},
        {"empty input",
         [](Saverpack& t) { t.Put("in/empty.scr", {}); },
         {"create", "-o", "o.exe", "--title", "t", "--saver", "in/empty.scr"},
         1,
         "is empty"},
        {"title too long",
         {},
         {"create", "-o", "o.exe", "--title", long33, "--saver", "in/saver.scr"},
         2,
         "the limit is 32"},
        {"title not in Windows-1252",
         {},
         {"create", "-o", "o.exe", "--title", "\xCE\xA9", "--saver", "in/saver.scr"},
         2,
         "Windows-1252 cannot hold"},
        {"title empty",
         {},
         {"create", "-o", "o.exe", "--title", "", "--saver", "in/saver.scr"},
         2,
         "--title: the title is empty"},
        {"title of blanks",
         {},
         {"create", "-o", "o.exe", "--title", "   ", "--saver", "in/saver.scr"},
         2,
         "--title: the title is empty"},
        {"name too long to install under",
         {},
         {"create", "-o", std::string(300, 'n') + ".exe", "--title", "t", "--saver",
          "in/saver.scr"},
         2,
         "its name is too long: 300 characters before its extension, where the installer keeps "
         "at most 255"},
        {"extension too long",
         [](Saverpack& t) { t.Put("in/photo.jpeg", {1}); },
         {"create", "-o", "o.exe", "--title", "t", "--saver", "in/saver.scr", "--data",
          "in/data.cfg", "in/photo.jpeg"},
         2,
         "photo.jpeg: its extension .jpeg is longer"},
        {"first number out of range",
         {},
         {"create", "-o", "o.exe", "--title", "t", "--saver", "in/saver.scr", "--first-number",
          "65536"},
         2,
         "65535"},
        {"FILE without --data",
         {},
         {"create", "-o", "o.exe", "--title", "t", "--saver", "in/saver.scr", "in/data.cfg"},
         2,
         "give --data"},
        {"stub that is no executable",
         {},
         {"create", "-o", "o.exe", "--title", "t", "--saver", "in/saver.scr", "--stub",
          "in/data.cfg"},
         1,
         "no MZ header"},
        {"stub with a package in it",
         {},
         {"create", "-o", "o.exe", "--title", "t", "--saver", "in/saver.scr", "--stub", "good.exe"},
         1,
         "already in it"},
        {"name the installer cannot install under",
         {},
         {"create", "-o", "...exe", "--title", "t", "--saver", "in/saver.scr"},
         2,
         "data folder the name \"..\""},
        {"output folder that cannot be written",
         {},
         {"create", "-o", "good.exe/o.exe", "--title", "t", "--saver", "in/saver.scr"},
         1,
         "cannot write in its folder"},
        {"installer with no package",
         [](Saverpack& t) { t.Put("stub.exe", ReadBytes(SAVERPACK_STUB)); },
         {"list", "stub.exe"},
         1,
         "holds no entry, not even the saver"},
        {"truncated installer",
         [](Saverpack& t) {
             fs::resize_file(t.dir / "good.exe", fs::file_size(t.dir / "good.exe") - 9);
         },
         {"extract", "good.exe", "-C", "x"},
         1,
         "entry 2: its bytes"},
        {"entry outside the file",
         [](Saverpack& t) {
             ChangeEntry(t.dir / "good.exe", 1, [](PackageEntry& e) { e.FileOffset = 1u << 30; });
         },
         {"verify", "good.exe"},
         1,
         "entry 1: its bytes (1,073,741,824 to"},
        {"overlapping entries",
         [](Saverpack& t) {
             ChangeEntry(t.dir / "good.exe", 2, [](PackageEntry& e) { e.FileOffset -= 5; });
         },
         {"verify", "good.exe"},
         1,
         "entry 1 and entry 2 share bytes"},
        {"damaged compressed stream",
         [](Saverpack& t) {
             ChangeEntry(t.dir / "good.exe", 0, [](PackageEntry& e) { e.StoredSize -= 3; });
         },
         {"verify", "good.exe"},
         1,
         "entry 0: its stream needs bits past"},
        {"extension holding path characters",
         [](Saverpack& t) {
             ChangeEntry(t.dir / "good.exe", 2,
                         [](PackageEntry& e) { memcpy(e.Extension, "\\..\\", 4); });
         },
         {"extract", "good.exe", "-C", "x"},
         1,
         "entry 2: its extension field holds a path separator"},
        // saverpack stamps every installer's checksum, so one that does not
        // fit is a file changed since: damaged, and never blessed by signing.
        {"checksum that is not the file's",
         [](Saverpack& t) { FlipBytes(t.dir / "good.exe", ChecksumAt(t.dir / "good.exe"), 1); },
         {"verify", "good.exe"},
         1,
         "problem: damaged: the header's PE checksum is"},
        {"three bytes flipped in the packed data",
         [](Saverpack& t) {
             FlipBytes(t.dir / "good.exe", fs::file_size(t.dir / "good.exe") - 99, 3);
         },
         {"verify", "good.exe"},
         1,
         "problem: damaged: the header's PE checksum is"},
        {"damaged copy extracted",
         [](Saverpack& t) {
             FlipBytes(t.dir / "good.exe", fs::file_size(t.dir / "good.exe") - 99, 3);
         },
         {"extract", "good.exe", "-C", "x"},
         1,
         "cannot extract it: damaged"},
        {"damaged copy signed",
         [](Saverpack& t) {
             FlipBytes(t.dir / "good.exe", fs::file_size(t.dir / "good.exe") - 99, 3);
             WriteBytes(t.dir / "cert.pem", {1, 2, 3});
             WriteBytes(t.dir / "key.pem", {1, 2, 3});
         },
         {"sign", "good.exe", "--cert", "cert.pem", "--key", "key.pem"},
         1,
         "will not sign it: damaged"},
        {"checksum of zero, from another tool",
         [](Saverpack& t) {
             std::vector<uint8_t> bytes = ReadBytes(t.dir / "good.exe");
             WriteLe32(&bytes[ChecksumAt(t.dir / "good.exe")], 0);
             WriteBytes(t.dir / "good.exe", bytes);
         },
         {"verify", "good.exe"},
         0,
         "warning: the header's PE checksum is 0x00000000"},
        {"folder that cannot be made",
         {},
         {"extract", "good.exe", "-C", "good.exe/x"},
         1,
         "cannot make the folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(CreateSample("good.exe").exitCode, 0);
        if (c.setup)
            c.setup(*this);
        std::vector<std::string> before = Contents();
        ToolRun run = Run(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        const std::string& said = c.arguments[0] == "verify" ? run.out : run.err;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        if (c.arguments[0] != "verify") {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
        EXPECT_EQ(Contents(), before);
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
}

// Whatever path leads to it, an input is never the file written: refused
// before anything is read or written, in one line naming the input.
TEST_F(Saverpack, RefusesToWriteOverAnyOfItsInputs) {
    const std::vector<std::string> saver = {"--title", "T", "--saver", "in/saver.scr"};
    const std::vector<std::string> data = {"--data", "in/data.cfg"};
    const std::vector<std::string> key = {"--cert", "cert.pem", "--key", "key.pem"};
    auto join = [](std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const std::vector<std::string>& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const struct {
        const char* name;
        std::vector<std::string> link; // {new name, file it links to}, made first
        std::vector<std::string> arguments;
        const char* named; // the input stderr names
    } cases[] = {
        {"saver, same path", {}, join({{"create", "-o", "in/saver.scr"}, saver}), "in/saver.scr"},
        {"saver, ./",
         {},
         {"create", "-o", "in/saver.scr", "--title", "T", "--saver", "./in/saver.scr"},
         "./in/saver.scr"},
        {"data, dir/..",
         {},
         join({{"create", "-o", "in/data.cfg"}, saver, {"--data", "in/../in/data.cfg"}}),
         "in/../in/data.cfg"},
        {"data, hard link",
         {"Data.exe", "in/data.cfg"},
         join({{"create", "-o", "Data.exe"}, saver, data}),
         "in/data.cfg"},
        {"FILE, same path",
         {},
         join({{"create", "-o", "in/picture.bmp"}, saver, data, {"in/picture.bmp"}}),
         "in/picture.bmp"},
        {"FILE, hard link",
         {"Picture.exe", "in/picture.bmp"},
         join({{"create", "-o", "Picture.exe"}, saver, data, {"in/picture.bmp"}}),
         "in/picture.bmp"},
        {"stub, same path",
         {},
         join({{"create", "-o", "stub.exe"}, saver, {"--stub", "stub.exe"}}),
         "stub.exe"},
        {"stub, another path",
         {},
         join({{"create", "-o", "in/../stub.exe"}, saver, {"--stub", "./stub.exe"}}),
         "./stub.exe"},
        {"icon, hard link",
         {"Icon.exe", "fish.ico"},
         join({{"create", "-o", "Icon.exe"}, saver, {"--icon", "fish.ico"}}),
         "fish.ico"},
        {"create's cert", {}, join({{"create", "-o", "cert.pem"}, saver, key}), "cert.pem"},
        {"create's key, hard link",
         {"Key.exe", "key.pem"},
         join({{"create", "-o", "Key.exe"}, saver, key}),
         "key.pem"},
        {"create's pass file",
         {},
         join({{"create", "-o", "pass.txt"}, saver, key, {"--pass-file", "./pass.txt"}}),
         "./pass.txt"},
        {"sign's cert, same path",
         {},
         {"sign", "good.exe", "--cert", "good.exe", "--key", "key.pem"},
         "good.exe"},
        {"sign's cert, another path",
         {},
         {"sign", "good.exe", "--cert", "in/../good.exe", "--key", "key.pem"},
         "in/../good.exe"},
        {"sign's key, hard link",
         {"k.pem", "good.exe"},
         {"sign", "good.exe", "--cert", "cert.pem", "--key", "k.pem"},
         "k.pem"},
        {"sign's pass file",
         {},
         join({{"sign", "./good.exe"}, key, {"--pass-file", "good.exe"}}),
         "good.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(CreateSample("good.exe").exitCode, 0);
        Put("stub.exe", ReadBytes(SAVERPACK_STUB));
        for (const char* name : {"cert.pem", "key.pem", "pass.txt", "fish.ico"})
            Put(name, TextLike(100));
        if (!c.link.empty())
            fs::create_hard_link(dir / c.link[1], dir / c.link[0]);
        std::map<std::string, std::vector<uint8_t>> before = Snapshot();
        ToolRun run = Run(c.arguments);
        EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
        EXPECT_EQ(run.err.rfind("saverpack: " + std::string(c.named) + ": is also ", 0), 0u)
            << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(Snapshot() == before) << "a file changed, or one was left behind";
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    // The same name in another folder, and a copy of the same bytes, are
    // other files.
    ASSERT_EQ(CreateSample("good.exe").exitCode, 0);
    fs::create_directories(dir / "out");
    fs::copy_file(dir / "in/saver.scr", dir / "Copy.exe");
    EXPECT_EQ(Run(join({{"create", "-o", "out/saver.scr"}, saver})).exitCode, 0);
    EXPECT_EQ(Run(join({{"create", "-o", "Copy.exe"}, saver})).exitCode, 0);
}

TEST_F(Saverpack, CtrlCLeavesNoInstallerAndNoTemporaryFile) {
    Put("big.scr", Noise(48 << 20));
    std::vector<std::string> before = Contents();
    ToolRun run = Run({"create", "-o", "Big.exe", "--title", "Big", "--saver", "big.scr"}, 300);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("interrupted"), std::string::npos) << run.err;
    EXPECT_EQ(Contents(), before);
}

TEST_F(Saverpack, SignsSoThatOsslsigncodeAndVerifyAcceptItAndListNamesTheSigner) {
    ASSERT_TRUE(MakeSelfSignedCertificate(dir, "Fish Tank Makers"));
    ASSERT_EQ(CreateSample("Signed.exe", {"--cert", "cert.pem", "--key", "key.pem"}).exitCode, 0);
    ASSERT_EQ(CreateSample("Later.exe").exitCode, 0);
    ToolRun sign = Run({"sign", "Later.exe", "--cert", "cert.pem", "--key", "key.pem"});
    ASSERT_EQ(sign.exitCode, 0) << sign.err;
    for (const char* installer : {"Signed.exe", "Later.exe"}) {
        SCOPED_TRACE(installer);
        EXPECT_EQ(system(("osslsigncode verify -CAfile " + (dir / "cert.pem").string() + " -in " +
                          (dir / installer).string() + " >/dev/null 2>&1")
                             .c_str()),
                  0);
        ToolRun verify = Run({"verify", installer, "--ca", "cert.pem"});
        EXPECT_EQ(verify.exitCode, 0) << verify.out;
        EXPECT_NE(verify.out.find("signed by /CN=Fish Tank Makers"), std::string::npos);
        // Without the CA the signature is intact, its signer unknown.
        verify = Run({"verify", installer});
        EXPECT_EQ(verify.exitCode, 0) << verify.out;
        EXPECT_NE(verify.out.find("warning: signature: intact"), std::string::npos);
        EXPECT_NE(Run({"list", installer}).out.find("signed by          /CN=Fish Tank Makers"),
                  std::string::npos);
    }
    EXPECT_EQ(Run({"sign", "Later.exe", "--cert", "cert.pem", "--key", "key.pem"}).exitCode, 1);
    // A byte of the package changed after signing.
    std::vector<uint8_t> bytes = ReadBytes(dir / "Signed.exe");
    bytes[ParsePackageEntry(RecordOf(bytes, 1)).FileOffset] ^= 1;
    WriteBytes(dir / "Signed.exe", bytes);
    ToolRun tampered = Run({"verify", "Signed.exe"});
    EXPECT_EQ(tampered.exitCode, 1);
    EXPECT_NE(tampered.out.find("problem: signature: the file was changed"), std::string::npos)
        << tampered.out;
}

TEST_F(Saverpack, EveryInstallerItWritesCarriesTheChecksumPefileComputes) {
    std::string python = PythonWithPefile();
    if (python.empty())
        GTEST_SKIP() << "python3-pefile is not installed (scripts/install-deps installs it)";
    ASSERT_TRUE(MakeSelfSignedCertificate(dir, "Fish Tank Makers"));
    auto pefileAccepts = [&](const std::string& installer) {
        return system((python +
                       " -c 'import pefile,sys; pe=pefile.PE(sys.argv[1]); "
                       "sys.exit(0 if pe.verify_checksum() else 1)' " +
                       (dir / installer).string())
                          .c_str()) == 0;
    };
    // Past a megabyte, so the sum runs over more than one block.
    Put("in/big.bin", Noise(1536 * 1024 + 2));
    const struct {
        const char* installer;
        std::vector<std::string> options;
    } cases[] = {
        {"Stored.exe", {"--store"}},
        {"Compressed.exe", {}},
        {"Big.exe", {"in/big.bin"}},
        {"Created.exe", {"--cert", "cert.pem", "--key", "key.pem"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.installer);
        ASSERT_EQ(CreateSample(c.installer, c.options).exitCode, 0);
        EXPECT_TRUE(pefileAccepts(c.installer));
        ToolRun verify = Run({"verify", c.installer, "--ca", "cert.pem"});
        EXPECT_EQ(verify.exitCode, 0) << verify.out;
        EXPECT_EQ(std::count(verify.out.begin(), verify.out.end(), '\n'), 1) << verify.out;
        if (c.options.empty() || c.options[0] != "--cert") {
            ToolRun sign = Run({"sign", c.installer, "--cert", "cert.pem", "--key", "key.pem"});
            ASSERT_EQ(sign.exitCode, 0) << sign.err;
            EXPECT_TRUE(pefileAccepts(c.installer)) << "signed";
            verify = Run({"verify", c.installer, "--ca", "cert.pem"});
            EXPECT_EQ(verify.exitCode, 0) << verify.out;
            EXPECT_NE(verify.out.find("signed by /CN=Fish Tank Makers"), std::string::npos);
        }
    }
}

} // namespace
