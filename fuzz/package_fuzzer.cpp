// Arbitrary installer bytes through the package reader behind saverpack's
// list, verify and extract: it must end, read nothing outside the bytes
// (libFuzzer's buffer is exactly their size, so ASan sees any such read),
// and never plan a file outside the folder it extracts into, whatever the
// package or the installer's name holds.
#include "tools/saverpack/extract.h"
#include "tools/saverpack/examine.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>

namespace {

// Names an installer may have on disk, among them ones whose BaseName
// would climb out of the folder.
const char* const InstallerNames[] = {"FishTank.exe", "my.saver.exe", "...exe", "..exe"};

bool Inside(const std::filesystem::path& folder, const std::vector<std::string>& components) {
    std::filesystem::path p = folder;
    for (const std::string& c : components)
        p /= c;
    std::filesystem::path normal = p.lexically_normal();
    auto mismatch = std::mismatch(folder.begin(), folder.end(), normal.begin(), normal.end());
    return mismatch.first == folder.end() && normal != folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pkg::MemoryBytes file(data, size);
    for (const char* name : InstallerNames) {
        saverpack::Examination x = saverpack::Examine(file, name);
        // The streams decode alike whatever the installer's name: once is
        // enough, and decoding is most of the time an input takes.
        if (name == InstallerNames[0])
            saverpack::CheckStreams(file, x);
        if (!x.CanExtract())
            continue;
        // Examine must have refused every name the last guard would refuse.
        std::vector<saverpack::ExtractTarget> targets;
        try {
            targets = saverpack::PlanExtraction(x);
        } catch (...) {
            abort();
        }
        for (const saverpack::ExtractTarget& t : targets)
            if (!Inside("/extract/here", t.path))
                abort();
    }
    return 0;
}
