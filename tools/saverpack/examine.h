// Judging an installer file that may be hostile: what the installer will
// find in it, and every way that differs from a sound package. list, verify
// and extract all start here.
#pragma once

#include "package/reader.h"
#include "package/writer.h"
#include "tools/saverpack/names.h"
#include "tools/saverpack/resources.h"

#include <cstdint>
#include <string>
#include <vector>

namespace saverpack {

struct Finding {
    bool problem;      // else a warning: the installer installs all the same
    bool stopsExtract; // extract cannot write the package as the installer would
    std::string text;  // one line, without the file's name
};

// The Authenticode certificate table, as the header's security directory
// gives it (its offset there is a file offset, not an address).
struct SignatureBlock {
    bool present = false;
    uint32_t offset = 0;
    uint32_t size = 0;
};

struct EntryView {
    PackageEntry entry;
    std::vector<std::string> path; // installed place, below the Windows directory
    bool inFile = false;           // its bytes lie inside the file, where the installer can read
    bool decodable = false;        // compressed, in the file, shares no bytes, not over-declared
};

struct Examination {
    InstallerNames names;
    pkg::FoundPackage where;
    pkg::PackageDirectory directory;
    std::vector<EntryView> entries;
    SignatureBlock signature;
    std::vector<Finding> findings;
    bool layoutKnown = false; // the image's layout checked out
    pkg::StubLayout layout{};
    bool identityKnown = false; // the resource tree could be read
    IdentityView identity;
    bool checksumChecked = false; // CheckChecksum has run

    bool Sound() const;
    bool CanExtract() const;
};

// The title field as text: up to its first NUL, from Windows-1252.
std::string TitleOf(const pkg::PackageDirectory& directory);

// The format's limit on how far a stream can expand: a match of at most
// MaxMatch bytes takes at least one bit of length code and nine of offset,
// so a stream that needs no bit past its stored bytes decodes to at most 24
// bytes per stored byte. Beyond that it cannot be whole, and decoding it
// (perhaps 2 GiB from a few bytes) is not needed to tell.
uint64_t MostDecodedFrom(uint32_t storedSize);

// Reads the package and judges what can be judged without decoding: the
// layout as the locator walks it, the directory and its terminator, every
// entry's place and extension, the names the file's own name gives, bytes
// after the package, the signature's place, and the resources Windows reads
// for the installer's icon and version.
Examination Examine(const pkg::ByteSource& file, const std::string& installerFileName);

// Decodes each decodable entry twice, once over zero bits past its stored
// bytes as the installer reads them and once over one bits, and reports
// the entries whose output depends on those bits. Memory stays bounded
// whatever an entry declares; time is bounded by MostDecodedFrom.
void CheckStreams(const pkg::ByteSource& file, Examination& examination);

// Reads the whole file and reports a PE checksum in the header other than
// the file's own, once per examination: verify and extract may both ask.
// Nothing when the layout is not known, which is reported already.
void CheckChecksum(const pkg::ByteSource& file, Examination& examination);

// Hands an entry's installed bytes to `write` in blocks, in order: its
// stored bytes, or its stream decoded as the installer decodes it (zero bits
// past the stored bytes, exactly OriginalSize bytes). `oneBitsPast` decodes
// over one bits past them instead. The entry must be inFile, and a
// compressed one decodable.
using BlockWriter = void (*)(void* context, const uint8_t* bytes, size_t count);
void RestoreEntry(const pkg::ByteSource& file, const PackageEntry& entry, BlockWriter write,
                  void* context, bool oneBitsPast = false);

} // namespace saverpack
