#include "package/writer.h"

#include "package/format.h"
#include "package/pe_checksum.h"

#include <algorithm>
#include <cstring>

namespace pkg {

uint64_t InstallerPieces::Size() const {
    uint64_t size = 0;
    for (const std::vector<uint8_t>& piece : pieces)
        size += piece.size();
    return size;
}

std::vector<uint8_t> InstallerPieces::Joined() const {
    std::vector<uint8_t> whole;
    whole.reserve(size_t(Size()));
    for (const std::vector<uint8_t>& piece : pieces)
        whole.insert(whole.end(), piece.begin(), piece.end());
    return whole;
}

InstallerPieces WriteInstallerPieces(const std::vector<uint8_t>& stub, PackageToWrite&& package) {
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
    uint64_t size = std::max({end, uint64_t(stub.size()), uint64_t(layout.rsrcEnd)});

    // Whatever the stub holds after the LASTRES data's offset is padding.
    std::vector<uint8_t> head(stub.begin(), stub.begin() + layout.packageOffset);
    head.resize(size_t(layout.packageOffset + directorySize));
    uint8_t* header = &head[layout.packageOffset];
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
        offset += entry.StoredSize;
        record += PackageEntrySize;
    }
    // The terminator is already zero: 16 zero bytes.

    InstallerPieces installer;
    installer.pieces.reserve(package.entries.size() + 2);
    installer.pieces.push_back(std::move(head));
    for (EntryToWrite& e : package.entries)
        installer.pieces.push_back(std::move(e.stored));
    installer.pieces.emplace_back(size_t(size - end), uint8_t(0));

    // The stub's own checksum no longer fits, and the installer refuses to
    // run when a non-zero one does not.
    std::vector<uint8_t>& first = installer.pieces.front();
    uint32_t field = ReadLe32(&first[DosLfanewOffset]) + ChecksumFromLfanew;
    if (uint64_t(field) + 4 <= first.size()) {
        WriteLe32(&first[field], 0);
        ChecksumOfPieces checksum;
        for (const std::vector<uint8_t>& piece : installer.pieces)
            checksum.Add(piece.data(), piece.size());
        WriteLe32(&first[field], checksum.Finish(uint32_t(size)));
    }
    return installer;
}

std::vector<uint8_t> WriteInstaller(const std::vector<uint8_t>& stub,
                                    const PackageToWrite& package) {
    return WriteInstallerPieces(stub, PackageToWrite(package)).Joined();
}

} // namespace pkg
