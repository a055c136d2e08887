#include "package/reader.h"

#include "package/pe_layout.h"

#include <cstring>

namespace pkg {
namespace {

// The installer's view of its file: a position that seeks set and reads
// move on by what they got. A seek to 2 GiB or beyond fails, as the
// installer's do (their offset is a signed 32-bit value).
struct InstallerFile {
    const ByteSource& file;
    uint64_t position = 0;

    bool Seek(uint32_t offset) {
        if (offset >= 0x80000000u)
            return false;
        position = offset;
        return true;
    }
    bool Read(void* buffer, size_t count) {
        size_t got = file.ReadAt(position, buffer, count);
        position += got;
        return got == count;
    }
};

FoundPackage Failed(const std::string& why) {
    FoundPackage f;
    f.failure = why;
    return f;
}

// The first entry of the subdirectory `entry` points to, at the offset the
// installer computes: base + offset + 16, in 32 bits.
bool FirstEntryBelow(InstallerFile& f, uint32_t base, const unsigned char* entry,
                     unsigned char* below) {
    uint32_t subdirectory = ReadLe32(entry + ResourceEntryTarget) & ~SubdirectoryFlag;
    return f.Seek(base + subdirectory + ResourceDirectoryHeaderSize) &&
           f.Read(below, ResourceEntrySize);
}

} // namespace

FoundPackage FindPackage(const ByteSource& file) {
    InstallerFile f{file};
    unsigned char word[4];
    if (!f.Seek(DosLfanewOffset) || !f.Read(word, 4))
        return Failed("too short for a DOS header");
    uint32_t lfanew = ReadLe32(word);
    if (!f.Seek(lfanew + SectionTableFromLfanew))
        return Failed("its PE header offset points past 2 GiB");
    unsigned char header[SectionHeaderSize];
    for (;;) {
        if (!f.Read(header, SectionHeaderSize))
            return Failed("no section header named .rsrc");
        if (std::memcmp(header, ".rsrc", 6) == 0)
            break;
    }
    uint32_t virtualAddress = ReadLe32(header + SectionVirtualAddress);
    uint32_t base = ReadLe32(header + SectionPointerToRawData);

    unsigned char type[ResourceEntrySize], name[ResourceEntrySize], language[ResourceEntrySize];
    if (!f.Seek(base + ResourceDirectoryHeaderSize) || !f.Read(type, ResourceEntrySize))
        return Failed("its resource root lies outside the file");
    if (!FirstEntryBelow(f, base, type, name) || !FirstEntryBelow(f, base, name, language))
        return Failed("its resource tree leads outside the file");
    // The language entry's offset is used as it is, high bit and all.
    unsigned char dataEntry[ResourceDataEntrySize];
    if (!f.Seek(base + ReadLe32(language + ResourceEntryTarget)) ||
        !f.Read(dataEntry, ResourceDataEntrySize))
        return Failed("its resource data entry lies outside the file");
    uint32_t at = ReadLe32(dataEntry) - virtualAddress + base;
    if (!f.Seek(at))
        return Failed("its resource data lies past 2 GiB");
    FoundPackage found;
    found.found = true;
    found.headerOffset = at;
    return found;
}

PackageDirectory ReadDirectory(const ByteSource& file, uint32_t headerOffset) {
    PackageDirectory d;
    d.headerOffset = headerOffset;
    file.ReadAt(headerOffset, d.title, TitleSize);
    unsigned char number[2];
    d.headerComplete = uint64_t(headerOffset) + PackageHeaderSize <= InstallerReadLimit &&
                       file.ReadAt(uint64_t(headerOffset) + TitleSize, number, 2) == 2;
    if (d.headerComplete)
        d.firstFileNumber = ReadLe16(number);

    uint64_t at = uint64_t(headerOffset) + PackageHeaderSize;
    unsigned char record[PackageEntrySize];
    // The installer seeks back to each next record: none past 2 GiB.
    while (at + PackageEntrySize <= InstallerReadLimit &&
           file.ReadAt(at, record, PackageEntrySize) == PackageEntrySize) {
        at += PackageEntrySize;
        PackageEntry entry = ParsePackageEntry(record);
        d.totalInstallSize += InstalledSize(entry);
        if (entry.StoredSize == 0) {
            d.terminated = true;
            d.terminator = entry;
            break;
        }
        if (d.entries.size() == MostEntriesRead) {
            d.tooMany = true;
            break;
        }
        d.entries.push_back(entry);
    }
    d.end = at;
    return d;
}

} // namespace pkg
