#include "package/locator.h"

#include "package/format.h"
#include "package/pe_checksum.h"
#include "package/pe_layout.h"

#include <string.h>

static int SeekTo(HFILE file, uint32_t offset) {
    return _llseek(file, (LONG)offset, FILE_BEGIN) != -1;
}

int ReadExactly(HFILE file, void* buffer, unsigned count) {
    return _lread(file, buffer, count) == count;
}

static int ReadU32At(HFILE file, uint32_t offset, uint32_t* value) {
    unsigned char bytes[4];
    if (!SeekTo(file, offset) || !ReadExactly(file, bytes, 4))
        return 0;
    *value = ReadLe32(bytes);
    return 1;
}

// Walks one level down the resource tree: the first entry of the
// subdirectory that `entry` points to. The offsets count from the start of
// the resource section; the walk compares no name, id or language.
static int FirstEntryBelow(HFILE file, uint32_t base, const unsigned char* entry,
                           unsigned char* below) {
    uint32_t subdirectory = ReadLe32(entry + ResourceEntryTarget) & ~SubdirectoryFlag;
    return SeekTo(file, base + subdirectory + ResourceDirectoryHeaderSize) &&
           ReadExactly(file, below, ResourceEntrySize);
}

// Finds the .rsrc section header after the section table's start.
static int FindResourceSection(HFILE file, uint32_t* virtualAddress, uint32_t* rawData) {
    uint32_t lfanew;
    if (!ReadU32At(file, DosLfanewOffset, &lfanew) ||
        !SeekTo(file, lfanew + SectionTableFromLfanew))
        return 0;
    unsigned char header[SectionHeaderSize];
    for (;;) {
        if (!ReadExactly(file, header, SectionHeaderSize))
            return 0;
        // The 8-byte name as a NUL-terminated string, so ".rsrc" and its NUL.
        if (memcmp(header, ".rsrc", 6) == 0)
            break;
    }
    *virtualAddress = ReadLe32(header + SectionVirtualAddress);
    *rawData = ReadLe32(header + SectionPointerToRawData);
    return 1;
}

static int SeekToFirstResourceData(HFILE file) {
    uint32_t virtualAddress, base;
    if (!FindResourceSection(file, &virtualAddress, &base))
        return 0;
    unsigned char type[ResourceEntrySize], name[ResourceEntrySize], language[ResourceEntrySize];
    if (!SeekTo(file, base + ResourceDirectoryHeaderSize) ||
        !ReadExactly(file, type, ResourceEntrySize) || !FirstEntryBelow(file, base, type, name) ||
        !FirstEntryBelow(file, base, name, language))
        return 0;
    // The language entry points at the data entry; its high bit is not a flag here.
    unsigned char dataEntry[ResourceDataEntrySize];
    if (!SeekTo(file, base + ReadLe32(language + ResourceEntryTarget)) ||
        !ReadExactly(file, dataEntry, ResourceDataEntrySize))
        return 0;
    // The data entry holds a virtual address; the section maps it to the file.
    return SeekTo(file, ReadLe32(dataEntry) - virtualAddress + base);
}

// The installer's own file, opened for reading, or HFILE_ERROR.
static HFILE OpenOwnFile() {
    char path[256];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    // A path that fills the buffer was cut: opening it would find another file.
    if (length == 0 || length >= sizeof path)
        return HFILE_ERROR;
    return _lopen(path, OF_READ | OF_SHARE_DENY_NONE);
}

HFILE LocatePackage() {
    HFILE file = OpenOwnFile();
    if (file == HFILE_ERROR)
        return HFILE_ERROR;
    if (!SeekToFirstResourceData(file)) {
        _lclose(file);
        return HFILE_ERROR;
    }
    return file;
}

// Sums the whole file as the checksum counts it, the field at `field`
// taken as zeros; 0 when a read fails, which tells nothing of the file.
static int SumOwnFile(HFILE file, uint32_t field, uint32_t* checksum) {
    // Even, so that only the last block can end in an odd byte.
    unsigned char block[4096];
    uint32_t sum = 0, size = 0;
    if (!SeekTo(file, 0))
        return 0;
    for (;;) {
        UINT got = _lread(file, block, 4096);
        if (got == (UINT)HFILE_ERROR)
            return 0;
        if (got == 0)
            break;
        for (uint32_t at = field; at < field + 4; ++at)
            if (at >= size && at - size < got)
                block[at - size] = 0;
        size += got;
        sum = AddChecksumWords(sum, block, got);
    }
    *checksum = FinishChecksum(sum, size);
    return 1;
}

int CheckOwnChecksum() {
    HFILE file = OpenOwnFile();
    // What cannot be opened here cannot be installed from either, and the
    // package's own reads say so.
    if (file == HFILE_ERROR)
        return 1;
    uint32_t lfanew, held, actual;
    int intact = 1;
    if (ReadU32At(file, DosLfanewOffset, &lfanew) &&
        ReadU32At(file, lfanew + ChecksumFromLfanew, &held) && held != 0 &&
        SumOwnFile(file, lfanew + ChecksumFromLfanew, &actual))
        intact = actual == held;
    _lclose(file);
    return intact;
}

void ReadSaverTitle(char* buffer) {
    HFILE package = LocatePackage();
    if (package == HFILE_ERROR)
        return;
    _lread(package, buffer, TitleSize);
    _lclose(package);
}

int ScanPackageDirectory(uint32_t* installSize) {
    HFILE package = LocatePackage();
    if (package == HFILE_ERROR)
        return 0;
    *installSize = 0;
    // Past Title and FirstFileNumber; neither counts here.
    _llseek(package, PackageHeaderSize, FILE_CURRENT);
    unsigned char record[PackageEntrySize];
    // A short read ends the directory as the terminator does.
    while (ReadExactly(package, record, PackageEntrySize)) {
        PackageEntry entry = ParsePackageEntry(record);
        // The terminator adds its OriginalSize too: 0 in every well-formed package.
        *installSize += InstalledSize(entry);
        if (entry.StoredSize == 0)
            break;
    }
    _lclose(package);
    return 1;
}
