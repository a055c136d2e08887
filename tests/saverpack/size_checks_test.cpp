// Inputs that are only refused by their size, and refused before they are
// read: a file the 32-bit tool's size_t would cut down, a stub or an icon no
// installer could carry. The big files are sparse, so they cost no disk.
#include "tests/saverpack/tool_run.h"
#include "tools/saverpack/failure.h"
#include "tools/saverpack/names.h"

#include <functional>

namespace {

using namespace tooltest;

class SizeChecks : public ScratchTest {};

TEST_F(SizeChecks, RefuseWhatIsTooLargeBeforeReadingIt) {
    WriteBytes(dir / "saver.scr", std::vector<uint8_t>(1000, 'x'));
    auto sparse = [&](const std::string& name, uint64_t size) {
        WriteBytes(dir / name, {});
        fs::resize_file(dir / name, size);
        return name;
    };
    auto create = [&](const std::vector<std::string>& options) {
        std::vector<std::string> arguments = {"create", "-o",      "Out.exe",  "--title",
                                              "Fish",   "--saver", "saver.scr"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        ToolRun run = RunTool(SAVERPACK_BINARY, arguments, dir);
        return std::to_string(run.exitCode) + " " + run.err;
    };
    const uint64_t GiB = uint64_t(1) << 30;
    const struct {
        const char* what;
        std::function<std::string()> run;
        std::string expected;
    } cases[] = {
        {"a stub past 4 GiB, which a 32-bit size_t would cut to 1 GiB",
         [&] {
             return create({"--stub", sparse("big.exe", 5 * GiB)});
         },
         "1 saverpack: big.exe: is 5,368,709,120 bytes; the most it may have is 2,147,483,647\n"},
        {"a stub of 2 GiB, where the installer cannot read",
         [&] {
             return create({"--stub", sparse("two.exe", 2 * GiB)});
         },
         "1 saverpack: two.exe: is 2,147,483,648 bytes; the most it may have is 2,147,483,647\n"},
        {"an icon larger than 64 images of 256 pixels",
         [&] {
             return create({"--icon", sparse("big.ico", 32 * 1024 * 1024 + 1)});
         },
         "1 saverpack: big.ico: is 33,554,433 bytes, more than an icon of 64 images of 256 "
         "pixels can take\n"},
        {"an icon past 4 GiB",
         [&] {
             return create({"--icon", sparse("huge.ico", 5 * GiB)});
         },
         "1 saverpack: huge.ico: is 5,368,709,120 bytes, more than an icon of 64 images of 256 "
         "pixels can take\n"},
        {"text that cannot be formatted (no wide character in the C locale)",
         [] {
             std::string out;
             try {
                 saverpack::AppendFormat(out, "%ls", L"\u00e9");
             } catch (const saverpack::Failure& e) {
                 return std::string(e.what()) + "|" + out;
             }
             return "formatted: " + out;
         },
         "internal error: the text \"%ls\" cannot be formatted|"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.run(), c.expected) << c.what;
        EXPECT_FALSE(fs::exists(dir / "Out.exe")) << c.what;
    }
}

} // namespace
