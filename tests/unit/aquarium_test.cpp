// The aquarium saver's reading of its command line and of its own file
// name, with no Windows underneath.
#include "examples/aquarium/options.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(AquariumCommand, TakesTheFormsWindowsUses) {
    const struct {
        const char* tail;
        SaverMode mode;
        uintptr_t window;
    } cases[] = {
        {"/s", ModeFullScreen, 0},
        {"/S", ModeFullScreen, 0},
        {"-s", ModeFullScreen, 0},
        {"  /s  ", ModeFullScreen, 0},
        {"/c", ModeSettings, 0},
        {"/C:1234", ModeSettings, 1234},
        {"/c 1234", ModeSettings, 1234},
        {"/c:12x4", ModeSettings, 0}, // not a window: the dialog has no owner
        {"", ModeSettings, 0},        // how the installer starts it
        {"/p 5678", ModePreview, 5678},
        {"/P:5678", ModePreview, 5678},
        {"/p", ModeUnknown, 0}, // a preview needs its window
        {"/p 99999999999999999999999", ModeUnknown, 0},
        {"/a 5678", ModeUnknown, 0}, // the old password change
        {"/save", ModeUnknown, 0},
        {"s", ModeFullScreen, 0},
        {"/", ModeUnknown, 0},
    };
    for (const auto& c : cases) {
        SaverCommand command = ParseSaverCommand(c.tail);
        EXPECT_EQ(command.mode, c.mode) << '"' << c.tail << '"';
        EXPECT_EQ(command.window, c.window) << '"' << c.tail << '"';
    }
}

TEST(AquariumCommand, TailFollowsTheProgramNameQuotedOrNot) {
    const struct {
        const char* commandLine;
        const char* tail;
    } cases[] = {
        {"AQUARIUM.SCR", ""},
        {"AQUARIUM.SCR /s", "/s"},
        {"\"C:\\windows\\AQUARIUM.SCR\"", ""},
        {"\"C:\\windows\\AQUARIUM.SCR\" /p 5678", "/p 5678"},
        {"\"C:\\Program Files\\Fish Tank.scr\"/c:12", "/c:12"},
        {"C:\\WINDOWS\\AQUARI~1.SCR   /S", "/S"},
        {"\"C:\\unclosed /s", ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(SkipProgramName(c.commandLine), c.tail) << c.commandLine;
}

namespace {

std::set<std::string> PresentFiles;

int Present(const char* path) {
    return PresentFiles.count(path) != 0;
}

} // namespace

TEST(AquariumData, IsLookedUpUnderTheSaversOwnBaseName) {
    const char* const dir = "C:\\windows\\TORVANIX\\MOREVANE\\";
    const struct {
        const char* windows;
        const char* module;
        std::string spriteSheet;
        std::string background;
    } cases[] = {
        {"C:\\windows", "C:\\windows\\MySaver.scr", std::string(dir) + "MySaver\\MySaver.DAT",
         std::string(dir) + "MySaver\\FILE0001.BMP"},
        {"C:\\windows\\", "C:\\windows\\my.fish.saver.scr",
         std::string(dir) + "my.fish.saver\\my.fish.saver.DAT",
         std::string(dir) + "my.fish.saver\\FILE0001.BMP"},
        {"C:\\windows", "AQUARIUM", std::string(dir) + "AQUARIUM\\AQUARIUM.DAT",
         std::string(dir) + "AQUARIUM\\FILE0001.BMP"},
    };
    for (const auto& c : cases) {
        SaverData data;
        PresentFiles = {c.spriteSheet, c.background};
        EXPECT_TRUE(FindSaverData(c.windows, c.module, Present, &data)) << c.module;
        EXPECT_EQ(data.spriteSheet, c.spriteSheet);
        EXPECT_EQ(data.background, c.background);

        PresentFiles = {c.background};
        EXPECT_FALSE(FindSaverData(c.windows, c.module, Present, &data)) << c.module;
        EXPECT_FALSE(data.haveSpriteSheet);
        EXPECT_TRUE(data.haveBackground);
    }
}

TEST(AquariumData, MissingOrTooLongIsNotFound) {
    SaverData data;
    PresentFiles = {};
    EXPECT_FALSE(FindSaverData("C:\\windows", "C:\\windows\\MySaver.scr", Present, &data));
    EXPECT_FALSE(data.haveSpriteSheet || data.haveBackground);

    // A path that would not fit is never looked at, not even cut short.
    const std::string longName(240, 'x');
    PresentFiles = {"C:\\windows\\TORVANIX\\MOREVANE\\" + longName.substr(0, 200)};
    EXPECT_FALSE(
        FindSaverData("C:\\windows", ("C:\\" + longName + ".scr").c_str(), Present, &data));
    EXPECT_STREQ(data.spriteSheet, "");
    EXPECT_STREQ(data.background, "");
}
