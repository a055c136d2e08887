// Reading the package of an installer file as the installer itself reads it,
// for the authoring side (list, verify, extract). The installer checks
// nothing, so this reader walks exactly its path and leaves judging to the
// caller: what the installer would find is what is reported.
#pragma once

#include "package/byte_source.h"
#include "package/format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pkg {

struct FoundPackage {
    bool found = false;
    std::string failure;       // why the walk failed, when it did
    uint32_t headerOffset = 0; // the file offset of the PackageHeader
};

// The installer's walk to the package directory: e_lfanew, the section
// table past a 224-byte optional header whatever the optional header says, the first header
// named ".rsrc", then the first entry of each resource level. Offsets are
// computed in 32 bits and wrap as the installer's do; one at 2 GiB or beyond
// fails as its signed seeks do.
FoundPackage FindPackage(const ByteSource& file);

struct PackageDirectory {
    uint32_t headerOffset = 0;
    bool headerComplete = false; // the 34 header bytes lie inside the file
    char title[TitleSize] = {};  // as many bytes as the file holds, NUL after
    uint16_t firstFileNumber = 0;
    std::vector<PackageEntry> entries; // in directory order, the terminator not among them
    bool terminated = false;           // a terminator was read before the file ended
    bool tooMany = false;              // reading stopped at MostEntriesRead
    PackageEntry terminator = {};
    uint64_t end = 0; // file offset after the last whole record read
    // TotalInstallSize as the installer's scan sums it before its
    // confirmation: every record read, the terminator too, modulo 2^32.
    uint32_t totalInstallSize = 0;
};

// No package anyone makes comes near this many entries; a hostile file of a
// gigabyte could hold sixty million, more than the authoring side should
// hold in memory to judge them.
constexpr size_t MostEntriesRead = 65536;

// Reads the directory from `headerOffset` on until a terminator, the end of
// the file, or MostEntriesRead entries.
PackageDirectory ReadDirectory(const ByteSource& file, uint32_t headerOffset);

} // namespace pkg
