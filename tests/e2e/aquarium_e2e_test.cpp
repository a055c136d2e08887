// The aquarium sample as a user gets it: installed from Aquarium.exe with
// compressed entries, its settings opened by the installer, then run full
// screen until a key is pressed.
#include "decoder/codec.h"
#include "tests/e2e/wine_harness.h"

#include <gtest/gtest.h>

namespace {

std::string AsText(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

pkg::EntryToWrite Compressed(const std::vector<uint8_t>& bytes, const std::string& extension) {
    return {EncodeStream(bytes, Level::Best), (uint32_t)bytes.size(), extension};
}

TEST(AquariumSample, InstallsTheBuiltFilesAndRunsUntilAKey) {
    const std::vector<uint8_t> saver = e2e::AquariumFile("aquarium.scr");
    const std::vector<uint8_t> sprites = e2e::AquariumFile("sprites.bmp");
    const std::vector<uint8_t> background = e2e::AquariumFile("background.bmp");
    e2e::WineCase wc;
    wc.installerName = "Aquarium.exe";
    wc.package.title = "Aquarium";
    wc.package.firstFileNumber = 1;
    wc.package.entries = {Compressed(saver, ""), Compressed(sprites, ""),
                          Compressed(background, ".BMP")};
    wc.answers = {"ok", "ok", "cancel"};
    wc.lingerSeconds = 20;
    e2e::WineRun run = e2e::RunInstaller(wc);
    SCOPED_TRACE(run.Describe());

    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_FALSE(run.Unscripted());
    const std::string dataDir = "C:\\windows\\TORVANIX\\MOREVANE\\Aquarium";
    EXPECT_EQ(run.ReadFile("C:\\windows\\AQUARIUM.SCR"), AsText(saver));
    EXPECT_EQ(run.List(dataDir), (std::vector<std::string>{"Aquarium.DAT", "FILE0001.BMP"}));
    EXPECT_EQ(run.ReadFile(dataDir + "\\Aquarium.DAT"), AsText(sprites));
    EXPECT_EQ(run.ReadFile(dataDir + "\\FILE0001.BMP"), AsText(background));

    // Started with no arguments, the installed saver opens its settings,
    // which say that it found its pictures; Cancel ends it.
    ASSERT_EQ(run.forms.size(), 1u);
    const e2e::Form& settings = run.forms[0];
    EXPECT_EQ(settings.caption, "Aquarium Settings");
    EXPECT_EQ(settings.program, "C:\\windows\\AQUARIUM.SCR");
    EXPECT_EQ(settings.controls, (std::vector<std::string>{
                                     "&Number of fish (1 to 20):", "[8]", "&Speed:", "[Normal]",
                                     "Fish and bubbles are drawn from the installed pictures."}));
    EXPECT_EQ(settings.buttons, "1=OK,2=Cancel");
    EXPECT_EQ(run.ended, (std::vector<std::string>{"C:\\windows\\AQUARIUM.SCR\t0"}));

    // Full screen it draws until told, then ends by itself.
    e2e::BotLog shown = run.RunProgram({"C:\\windows\\AQUARIUM.SCR", "/s"}, {}, 1500);
    SCOPED_TRACE(shown.Describe());
    ASSERT_EQ(shown.windows.size(), 1u);
    EXPECT_EQ(shown.windows[0].windowClass, "AquariumSaverWindow");
    EXPECT_EQ(shown.windows[0].rect.rfind("0,0,", 0), 0u) << "covers the screen from its corner";
    EXPECT_TRUE(shown.told);
    EXPECT_FALSE(shown.killed);
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_FALSE(shown.timedOut);
}

} // namespace
