// Making an installer in memory, from names and bytes: every check create
// makes of its inputs, the entries compressed and decoded again, the
// package written into the stub with the checksum made right. The files,
// signing and the terminal belong to the front ends, which reach in through
// the sources' functions and the hooks.
#pragma once

#include "decoder/codec.h"
#include "package/writer.h"
#include "tools/saverpack/failure.h"
#include "tools/saverpack/resources.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace saverpack {

// The compression levels offered, under the encoder's names for them
// (greedy and lazy are its reference points, not offered).
extern const Level OfferedLevels[];
extern const size_t OfferedLevelCount;
const char* NameOf(Level level);
// The offered level of that name, or none.
const Level* LevelNamed(const std::string& name);

// One file the installer is made of. The core asks its size before it
// reads it, and reads it once, when it packs it, so that a front end
// holding files on disk holds only one in memory at a time.
struct Source {
    std::string shown;    // as the author named it, in messages
    std::string fileName; // its own name, for an entry's extension (UTF-8)
    // Its size; throws Failure when it cannot be had.
    std::function<uint64_t()> size;
    // Its bytes; throws Failure when they cannot be read.
    std::function<std::vector<uint8_t>()> load;
};

// A Source over bytes in memory, which `load` hands over (once).
Source SourceOf(const std::string& name, std::vector<uint8_t> bytes);

struct MakeRequest {
    std::string out;     // the installer as the author named it, in messages
    std::string outName; // its file name: every installed name comes from it
    std::string title;   // UTF-8
    Source saver;
    std::optional<Source> data;
    std::vector<Source> files;
    unsigned firstNumber = 1;
    bool store = false;
    Level level = Level::Best;
    std::string stubShown; // "" for the stub built into the tool
    std::function<std::vector<uint8_t>()> stub;
    // The installer's identity; with none of these, the stub's resources
    // are kept byte for byte.
    std::optional<Source> icon;
    std::optional<std::string> productVersion, company, description, copyright;
};

// What a form offers to choose from, the default first: the offered levels
// by name, then "store".
std::vector<std::string> LevelChoices();
// Sets `request`'s level, or stores, as the choice of that name says;
// throws Failure about "level" for a name that is none of LevelChoices.
void ChooseLevel(const std::string& choice, MakeRequest& request);

// Where a front end takes part; each may be empty.
struct MakeHooks {
    // After the installer's name is judged, before anything else.
    std::function<void()> nameJudged;
    // A warning about the installer, which it is made all the same.
    std::function<void(const std::string&)> warn;
    // With every input judged and the stub ready, before packing.
    std::function<void()> beforePacking;
    // Bytes of input packed so far, now and then; may throw to stop.
    std::function<void(uint64_t done, uint64_t total)> progress;
};

// One line of the summary, per entry.
struct PackedEntry {
    std::string shown;
    std::vector<std::string> path; // where it installs, below the Windows directory
    uint64_t size = 0;
    uint64_t stored = 0;
    bool compressed = false;
};

struct MadeInstaller {
    pkg::InstallerPieces installer; // unsigned, its checksum right
    std::vector<PackedEntry> entries;
    Identity identity;
};

// The installed names and sizes of what `request` would make, judged as
// MakeInstaller judges it, without reading an input whole (but the icon).
struct MakePlan {
    std::vector<PackedEntry> entries; // stored sizes 0
    Identity identity;
    // What the installer's scan will sum and its confirmation show: every
    // entry's installed size, modulo 2^32 as in its 32-bit sum.
    uint32_t installSize = 0;
};
MakePlan PlanInstaller(const MakeRequest& request, const MakeHooks& hooks = {});

// Throws Failure, with `input` naming what it is about, on the first input
// that cannot be carried out; exitCode 2 for what the author must change
// in the request itself.
MadeInstaller MakeInstaller(const MakeRequest& request, const MakeHooks& hooks = {});

// What create prints when done: the icon and version, each entry's place,
// size and ratio, and the totals. `installerSize` is the size of the file
// as written (signed or not).
std::string SummaryText(const MakeRequest& request, const MadeInstaller& made,
                        uint64_t installerSize, double seconds);

// What the user is told before and after installing, composed by the
// installer's own code, for an installer named `outName` whose title is
// `title` and whose files take `installSize` bytes, on a Windows whose
// directory is `windowsDirectory`.
struct UserTexts {
    std::string caption, confirmation, completion;
};
UserTexts TextsTheUserSees(const std::string& outName, const std::string& title,
                           uint32_t installSize, const std::string& windowsDirectory);

} // namespace saverpack
