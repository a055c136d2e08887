// The core as the page calls it, on bytes in memory: it makes what the
// command line makes, refuses what the command line refuses and says which
// input is at fault, and words the user's texts as the installer does.
#include "tests/saverpack/tool_run.h"
#include "tools/saverpack/create.h"

#include <gtest/gtest.h>

namespace {

using namespace saverpack;
using namespace tooltest;

MakeRequest Request(const std::vector<uint8_t>& saver, const std::vector<uint8_t>& data) {
    MakeRequest r;
    r.out = r.outName = "Fish.exe";
    r.title = "Fish";
    r.saver = SourceOf("fish.scr", saver);
    r.data = SourceOf("fish.dat", data);
    r.stub = [] { return ReadBytes(SAVERPACK_STUB); };
    return r;
}

TEST(Core, MakesWhatItPlansAndWhatTheCommandLineMakes) {
    fs::path dir = fs::temp_directory_path() / "saverpack-core-test";
    fs::create_directories(dir);
    std::vector<uint8_t> saver = Noise(3000), data = TextLike(200000), more = TextLike(5000);
    WriteBytes(dir / "fish.scr", saver);
    WriteBytes(dir / "fish.dat", data);
    WriteBytes(dir / "more.txt", more);
    for (const char* level : {"best", "fast", "store"}) {
        SCOPED_TRACE(level);
        MakeRequest r = Request(saver, data);
        r.files.push_back(SourceOf("more.txt", more));
        r.store = std::string(level) == "store";
        r.level = r.store ? Level::Best : *LevelNamed(level);
        MakePlan plan = PlanInstaller(r);
        std::vector<uint64_t> progress;
        MakeHooks hooks;
        hooks.progress = [&](uint64_t done, uint64_t total) {
            EXPECT_EQ(total, saver.size() + data.size() + more.size());
            progress.push_back(done);
        };
        MadeInstaller made = MakeInstaller(r, hooks);
        std::vector<std::string> arguments = {"create",   "-o",       "Fish.exe", "--title",
                                              "Fish",     "--saver",  "fish.scr", "--data",
                                              "fish.dat", "more.txt", "--stub",   SAVERPACK_STUB};
        if (r.store)
            arguments.push_back("--store");
        else
            arguments.insert(arguments.end(), {"--level", level});
        ToolRun run = RunTool(SAVERPACK_BINARY, arguments, dir);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(made.installer.Joined(), ReadBytes(dir / "Fish.exe"));
        ASSERT_EQ(plan.entries.size(), made.entries.size());
        for (size_t i = 0; i < plan.entries.size(); ++i)
            EXPECT_EQ(plan.entries[i].path, made.entries[i].path);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), saver.size() + data.size() + more.size());
    }
    fs::remove_all(dir);
}

TEST(Core, RefusesAsTheCommandLineDoesAndNamesTheInputAtFaultInNoFrontEndsWords) {
    const struct {
        const char* input;
        std::function<void(MakeRequest&)> change;
        const char* says;
        Failure::Fault fault = Failure::Fault::Any;
    } cases[] = {
        {"name", [](MakeRequest& r) { r.out = r.outName = "CON.exe"; }, "CON.exe: "},
        {"name", [](MakeRequest& r) { r.out = r.outName = ""; }, "the installer has no file name"},
        {"title", [](MakeRequest& r) { r.title = std::string(33, 'x'); }, "the title is 33"},
        {"title", [](MakeRequest& r) { r.title = "\xCE\xA9mega"; }, "the title holds"},
        {"title", [](MakeRequest& r) { r.title = " "; }, "the title is empty"},
        {"icon",
         [](MakeRequest& r) {
             r.icon = SourceOf("i.ico", {'h', 'i', '!', 0, 0, 0});
         },
         "i.ico: is no .ico file"},
        {"version", [](MakeRequest& r) { r.productVersion = "1.x"; }, "a version is",
         Failure::Fault::Text},
        {"company", [](MakeRequest& r) { r.company = "a\tb"; }, "it holds", Failure::Fault::Text},
        {"data", [](MakeRequest& r) { r.data = SourceOf("empty.dat", {}); }, "empty.dat: is empty"},
        {"data",
         [](MakeRequest& r) {
             r.data.reset();
             r.files.push_back(SourceOf("a.txt", {1}));
         },
         "entry 1 is always the data file", Failure::Fault::Missing},
        {"files", [](MakeRequest& r) { r.files.push_back(SourceOf("a.jpeg", {1})); },
         "a.jpeg: its extension .jpeg is longer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        for (bool plan : {true, false}) {
            MakeRequest r = Request({1, 2, 3}, {4, 5, 6});
            c.change(r);
            try {
                plan ? (void)PlanInstaller(r) : (void)MakeInstaller(r);
                ADD_FAILURE() << "taken";
            } catch (const Failure& e) {
                EXPECT_EQ(e.input, c.input);
                EXPECT_EQ(e.fault, c.fault);
                EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
                EXPECT_EQ(std::string(e.what()).find("--"), std::string::npos) << e.what();
            }
        }
    }
}

TEST(Core, TheUserSeesWhatTheInstallerComposes) {
    const struct {
        const char* name;
        const char* title;
        uint32_t size;
        const char* confirmation;
        const char* dataDirectory;
    } cases[] = {
        {"FishTank.exe", "Fish Tank", 1293420,
         "This program will install FISHTANK.SCR (Fish Tank Screen Saver) to C:\\WINDOWS and "
         "will make it your default Screen Saver.  This installation will take 1,293,420 bytes.",
         "C:\\WINDOWS\\TORVANIX\\MOREVANE\\FISHTANK"},
        // Cut at the first dot for the saver, at the last for the folder;
        // the title's trailing blanks trimmed, its accents kept.
        {"my.saver.exe", "Caf\xC3\xA9  ", 7,
         "This program will install MY.SCR (Caf\xC3\xA9 Screen Saver) to C:\\WINDOWS and will make "
         "it your default Screen Saver.  This installation will take 7 bytes.",
         "C:\\WINDOWS\\TORVANIX\\MOREVANE\\MY.SAVER"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UserTexts t = TextsTheUserSees(c.name, c.title, c.size, "C:\\Windows");
        std::string title = c.title;
        title.erase(title.find_last_not_of(' ') + 1);
        EXPECT_EQ(t.caption, title + " Screen Saver Installation");
        EXPECT_EQ(t.confirmation, c.confirmation);
        EXPECT_EQ(t.completion,
                  std::string("Installation Complete!\r\n\r\nData files have also been "
                              "installed in your ") +
                      c.dataDirectory + " directory.");
    }
}

} // namespace
