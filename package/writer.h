// Writing a package into a copy of the installer (authoring side only).
#pragma once

#include "package/byte_source.h"
#include "package/format.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pkg {

// Something about an installer image or a package that makes writing it
// unsafe; the message names what is wrong.
struct PackageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Where the package goes in an installer, after checking every property the
// installer's locator relies on.
struct StubLayout {
    uint32_t packageOffset; // file offset of the LASTRES data
    uint32_t rsrcOffset;    // PointerToRawData of .rsrc
    uint32_t rsrcVirtualAddress;
    uint64_t rsrcEnd;  // PointerToRawData + SizeOfRawData of .rsrc
    uint32_t peOffset; // e_lfanew: the PE signature, then the headers
};

// The image's part of the layout, whatever follows the LASTRES data: a
// package, a signature, or nothing. Throws PackageError naming the first
// property that does not hold.
StubLayout CheckImageLayout(const ByteSource& image);

// An installer with no package: the image's layout, and nothing after the
// LASTRES data's four bytes but zero padding.
StubLayout CheckStubLayout(const std::vector<uint8_t>& image);

struct EntryToWrite {
    std::vector<uint8_t> stored; // the bytes as they lie in the installer
    uint32_t originalSize = 0;   // 0 for a stored file, else the decoded size
    std::string extension;       // up to 4 characters, ".TXT"
};

struct PackageToWrite {
    std::string title; // up to 32 characters
    uint16_t firstFileNumber = 0;
    std::vector<EntryToWrite> entries;
};

// An installer as the pieces it is made of, in file order: the stub with
// the package's directory, each entry's bytes, then the zeros that pad it.
// Whoever hands them on one by one never holds the whole file beside its
// entries, which for a large stored file would double the memory it takes.
struct InstallerPieces {
    std::vector<std::vector<uint8_t>> pieces;

    uint64_t Size() const;
    std::vector<uint8_t> Joined() const;
};

// The installer with the package written at the LASTRES data's offset: the
// directory, its terminator, then each entry's bytes in directory order, with
// absolute offsets, padded with zeros to the end of the stub's .rsrc; its
// PE checksum fits the whole. The entries' bytes are moved into the pieces.
// Throws PackageError when the stub is not fit for it, the title or an
// extension is too long, or the package would pass InstallerReadLimit.
InstallerPieces WriteInstallerPieces(const std::vector<uint8_t>& stub, PackageToWrite&& package);

// The same installer, whole.
std::vector<uint8_t> WriteInstaller(const std::vector<uint8_t>& stub,
                                    const PackageToWrite& package);

} // namespace pkg
