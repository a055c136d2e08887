// The PE32 image layout, as far as anything here reads or writes it: the
// installer's walk to its package and its own checksum, and the authoring
// side's checks, resource writer, checksum and examination. Offsets are
// named after the fields of the Windows headers (e_lfanew, NumberOfSections,
// SizeOfImage...) and count from the start of the record they belong to;
// nobody types an offset of their own. Fields are little-endian and
// unaligned: read them with ReadLe16/ReadLe32 (package/format.h).
#pragma once

#include <stdint.h>

enum : uint32_t {
    // The DOS header: "MZ", and at 60 the file offset of the PE signature.
    DosHeaderSize = 64,
    DosLfanewOffset = 60,

    // From e_lfanew: the signature "PE\0\0", the file header, the optional
    // header, the section table.
    PeSignature = 0x00004550,
    FileHeaderFromLfanew = 4,
    OptionalHeaderFromLfanew = FileHeaderFromLfanew + 20,

    // IMAGE_FILE_HEADER.
    FileHeaderMachine = 0,
    FileHeaderNumberOfSections = 2,
    FileHeaderSizeOfOptionalHeader = 16,
    MachineI386 = 0x14c,

    // IMAGE_OPTIONAL_HEADER32 and its data directories.
    OptionalMagic = 0,
    OptionalSizeOfInitializedData = 8,
    OptionalSectionAlignment = 32,
    OptionalFileAlignment = 36,
    OptionalSizeOfImage = 56,
    OptionalCheckSum = 64,
    OptionalNumberOfRvaAndSizes = 92,
    OptionalDataDirectories = 96,
    Pe32Magic = 0x10b,
    // SizeOfOptionalHeader is not consulted by the installer's walk: the
    // build guarantees this size, and the authoring side checks it.
    Pe32OptionalHeaderSize = 224,

    // IMAGE_DATA_DIRECTORY: an address and a size, by index.
    DataDirectorySize = 8,
    ResourceDirectoryIndex = 2,
    SecurityDirectoryIndex = 4, // its address is a file offset
    ResourceDirectoryInOptional =
        OptionalDataDirectories + ResourceDirectoryIndex * DataDirectorySize,
    SecurityDirectoryInOptional =
        OptionalDataDirectories + SecurityDirectoryIndex * DataDirectorySize,

    SectionTableFromLfanew = OptionalHeaderFromLfanew + Pe32OptionalHeaderSize,
    ChecksumFromLfanew = OptionalHeaderFromLfanew + OptionalCheckSum,

    // IMAGE_SECTION_HEADER.
    SectionHeaderSize = 40,
    SectionNameSize = 8,
    SectionVirtualSize = 8,
    SectionVirtualAddress = 12,
    SectionSizeOfRawData = 16,
    SectionPointerToRawData = 20,

    // The resource tree: directories of 8-byte entries over 16-byte data
    // entries. An entry's name field holds an id, or with the flag the
    // offset of a counted UTF-16 name; its target, with the flag, the offset
    // of a subdirectory, else of a data entry.
    ResourceDirectoryHeaderSize = 16,
    ResourceNamedEntryCount = 12,
    ResourceIdEntryCount = 14,
    ResourceEntrySize = 8,
    ResourceEntryTarget = 4,
    ResourceDataEntrySize = 16,
    ResourceDataSize = 4,
    ResourceDataCodePage = 8,
    SubdirectoryFlag = 0x80000000u,

    // WIN_CERTIFICATE, the head of the certificate table.
    WinCertificateHeaderSize = 8,
    WinCertificateRevision = 4,
    WinCertificateType = 6,
    WinCertRevision2 = 0x0200,
    WinCertTypePkcsSignedData = 0x0002,
};

// Where section `index`'s header starts, from e_lfanew.
inline uint64_t SectionHeaderFromLfanew(uint32_t index) {
    return SectionTableFromLfanew + uint64_t(SectionHeaderSize) * index;
}
