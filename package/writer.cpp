#include "package/writer.h"

#include "package/format.h"
#include "package/pe_checksum.h"

#include <cstring>

namespace pkg {

std::vector<uint8_t> WriteInstaller(const std::vector<uint8_t>& stub,
                                    const PackageToWrite& package) {
    StubLayout layout = CheckStubLayout(stub);
    if (package.title.size() > TitleSize)
        throw PackageError("title longer than 32 characters: " + package.title);
    for (const EntryToWrite& e : package.entries) {
        if (e.extension.size() > ExtensionSize)
            throw PackageError("extension longer than 4 characters: " + e.extension);
        // A zero stored size is the terminator: the entry and every one after
        // it would vanish from the directory.
        if (e.stored.empty())
            throw PackageError("an entry with no stored bytes cannot be written");
    }

    uint64_t directorySize =
        PackageHeaderSize + uint64_t(PackageEntrySize) * (package.entries.size() + 1);
    uint64_t end = layout.packageOffset + directorySize;
    for (const EntryToWrite& e : package.entries)
        end += e.stored.size();
    if (end > InstallerReadLimit)
        throw PackageError("the installer would pass 2 GiB, beyond which it cannot read itself");

    // The file runs at least to the end of .rsrc as its section table gives
    // it: Windows refuses an image whose sections run past the end of the
    // file, and a tiny package would otherwise end before.
    std::vector<uint8_t> out(stub.begin(), stub.end());
    if (out.size() < end)
        out.resize(end);
    if (out.size() < layout.rsrcEnd)
        out.resize(layout.rsrcEnd);
    std::memset(&out[layout.packageOffset], 0, stub.size() - layout.packageOffset);

    uint8_t* header = &out[layout.packageOffset];
    std::memcpy(header, package.title.data(), package.title.size());
    WriteLe16(header + TitleSize, package.firstFileNumber);

    uint32_t offset = uint32_t(layout.packageOffset + directorySize);
    uint8_t* record = header + PackageHeaderSize;
    for (const EntryToWrite& e : package.entries) {
        PackageEntry entry{};
        entry.FileOffset = offset;
        entry.StoredSize = uint32_t(e.stored.size());
        entry.OriginalSize = e.originalSize;
        std::memcpy(entry.Extension, e.extension.data(), e.extension.size());
        FormatPackageEntry(entry, record);
        std::memcpy(&out[offset], e.stored.data(), e.stored.size());
        offset += entry.StoredSize;
        record += PackageEntrySize;
    }
    // The terminator is already zero: 16 zero bytes.
    // The stub's own checksum no longer fits, and the installer refuses to
    // run when a non-zero one does not.
    uint32_t field = ReadLe32(&out[DosLfanewOffset]) + ChecksumFromLfanew;
    if (uint64_t(field) + 4 <= out.size())
        StampPeChecksum(out.data(), uint32_t(out.size()), field);
    return out;
}

} // namespace pkg
