// Installers made by saverpack, run under Wine as a user runs them, and
// saverpack.exe itself under Wine: the Windows build must make the very
// same installer as the native one.
#include "tests/e2e/wine_harness.h"
#include "tests/saverpack/icon_files.h"
#include "tests/saverpack/tool_run.h"

#include <gtest/gtest.h>

namespace {

using namespace tooltest;

const std::string Native = SAVERPACK_BINARY;

std::string AsText(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// What a run printed, with Windows line ends made Unix ones.
std::string Lines(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

class SaverpackUnderWine : public ScratchTest {
  public:
    // The probe as saver, a data file and a further file numbered 11; and
    // an icon for the cases that give the installer an identity.
    void PutInputs(const std::vector<uint8_t>& third) {
        WriteBytes(dir / "probe.scr", e2e::ProbeSaver());
        WriteBytes(dir / "data.cfg", TextLike(5000));
        WriteBytes(dir / "notes.txt", third);
        WriteBytes(dir / "fish.ico",
                   Ico({{16, 32, Dib(16, 32)}, {32, 8, Dib(32, 8)}, {256, 32, Png(256)}}));
    }
    static std::vector<std::string> IdentityOptions() {
        return {"--icon",    "fish.ico",         "--product-version", "2.1.3",
                "--company", "Fish Tank Makers", "--copyright",       "(c) Fish Tank Makers"};
    }
    std::vector<std::string> CreateArguments(const std::string& out) const {
        return {"create",    "-o",     out,        "--title",        "Fish Tank", "--saver",
                "probe.scr", "--data", "data.cfg", "--first-number", "11",        "notes.txt"};
    }
};

TEST_F(SaverpackUnderWine, ItsInstallersInstallTheInputBytes) {
    ASSERT_TRUE(MakeSelfSignedCertificate(dir, "Fish Tank Makers"));
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::vector<uint8_t> third;
    } cases[] = {
        {"stored", {"--store"}, TextLike(20000)},
        {"fast", {"--level", "fast"}, TextLike(20000)},
        {"best", {}, TextLike(20000)},
        {"mixed", {}, Noise(30000)},
        {"signed", {"--cert", "cert.pem", "--key", "key.pem"}, TextLike(20000)},
        {"with an icon and version", IdentityOptions(), TextLike(20000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PutInputs(c.third);
        std::vector<std::string> arguments = CreateArguments("FishTank.exe");
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(RunTool(Native, arguments, dir).exitCode, 0);
        ToolRun list = RunTool(Native, {"list", "FishTank.exe"}, dir);
        size_t at = list.out.find("install size") + 12;
        std::string total = list.out.substr(at, list.out.find(" bytes", at) - at);
        total.erase(0, total.find_first_not_of(' '));

        e2e::WineCase wc;
        wc.installerName = "FishTank.exe";
        wc.installer = ReadBytes(dir / "FishTank.exe");
        wc.answers = {"ok", "ok"};
        e2e::WineRun run = e2e::RunInstaller(wc);
        SCOPED_TRACE(run.Describe());
        EXPECT_EQ(run.exitCode, 0);
        ASSERT_EQ(run.boxes.size(), 2u);
        // The size list gives is the one the confirmation shows.
        EXPECT_NE(run.boxes[0].text.find("will take " + total + " bytes."), std::string::npos)
            << total;
        const std::string data = "C:\\windows\\TORVANIX\\MOREVANE\\FishTank\\";
        EXPECT_EQ(run.ReadFile("C:\\windows\\FISHTANK.SCR"), AsText(e2e::ProbeSaver()));
        EXPECT_EQ(run.ReadFile(data + "FishTank.DAT"), AsText(TextLike(5000)));
        EXPECT_EQ(run.ReadFile(data + "FILE0011.TXT"), AsText(c.third));
        EXPECT_EQ(run.ProbeStarts().size(), 1u);
    }
}

TEST_F(SaverpackUnderWine, TheWindowsBuildMakesTheSameInstallerAndAgreesOnIt) {
    const std::string windows = e2e::Win32BuildDir() + "/saverpack.exe";
    PutInputs(TextLike(20000));
    // The icon and version resources too: .rsrc laid out anew, checksum and
    // all. Both name their output alike, since the version resource holds
    // its file name; list and verify then read the one with an identity.
    fs::create_directories(dir / "wine");
    for (bool identity : {false, true}) {
        SCOPED_TRACE(identity ? "with an identity" : "without");
        std::vector<std::string> native = CreateArguments("Native.exe"),
                                 windowsBuild = CreateArguments("wine/Native.exe");
        if (identity) {
            for (auto* arguments : {&native, &windowsBuild})
                for (const std::string& o : IdentityOptions())
                    arguments->push_back(o);
        }
        ASSERT_EQ(RunTool(Native, native, dir).exitCode, 0);
        e2e::ProgramRun create = e2e::RunWineProgram(windows, windowsBuild, dir);
        ASSERT_EQ(create.exitCode, 0) << create.output;
        EXPECT_EQ(ReadBytes(dir / "wine" / "Native.exe"), ReadBytes(dir / "Native.exe"));
    }

    for (const char* command : {"list", "verify"}) {
        SCOPED_TRACE(command);
        ToolRun native = RunTool(Native, {command, "Native.exe"}, dir);
        e2e::ProgramRun underWine = e2e::RunWineProgram(windows, {command, "Native.exe"}, dir);
        EXPECT_EQ(underWine.exitCode, native.exitCode);
        EXPECT_EQ(native.exitCode, 0);
        EXPECT_EQ(Lines(underWine.output), native.out + native.err);
    }
    // No osslsigncode.exe in the prefix: sign says what it needs.
    WriteBytes(dir / "key.pem", {'k'});
    e2e::ProgramRun sign = e2e::RunWineProgram(
        windows, {"sign", "Native.exe", "--cert", "key.pem", "--key", "key.pem"}, dir);
    EXPECT_EQ(sign.exitCode, 1);
    EXPECT_NE(sign.output.find("signing needs osslsigncode on the PATH"), std::string::npos)
        << sign.output;
}

} // namespace
