// The package directory as it lies in an installer file, shared by the
// installer (reading) and the authoring side (writing).
//
// The directory starts at the file offset of the LASTRES resource data: a
// 34-byte header, then 16-byte entries up to a terminator whose StoredSize is
// 0. There is no count. Entry 0 is the saver program, entry 1 its data file,
// entries 2 and on further files. Multi-byte fields are little-endian and
// unaligned, so records are read and written field by field, never by
// casting a buffer to a struct.
#pragma once

#include <stdint.h>

enum {
    TitleSize = 32,
    PackageHeaderSize = 34,
    PackageEntrySize = 16,
    ExtensionSize = 4,
};

// The installer seeks in its own file with signed 32-bit offsets: no byte of
// a package it can read lies at 2 GiB or beyond.
constexpr uint64_t InstallerReadLimit = uint64_t(1) << 31;

struct PackageHeader {
    char Title[TitleSize]; // NUL-padded; all 32 bytes may be characters
    uint16_t FirstFileNumber;
};

struct PackageEntry {
    uint32_t FileOffset;   // absolute offset in the installer file
    uint32_t StoredSize;   // 0 marks the terminator
    uint32_t OriginalSize; // 0: stored as is; else the size the stream decodes to
    char Extension[ExtensionSize];
};

inline uint32_t ReadLe32(const unsigned char* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

inline uint16_t ReadLe16(const unsigned char* p) {
    return (uint16_t)(p[0] | p[1] << 8);
}

inline void WriteLe32(unsigned char* p, uint32_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

inline void WriteLe16(unsigned char* p, uint16_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

// The bytes an entry installs as: its original size when compressed, its
// stored size when stored.
inline uint32_t InstalledSize(const PackageEntry& e) {
    return e.OriginalSize != 0 ? e.OriginalSize : e.StoredSize;
}

inline PackageEntry ParsePackageEntry(const unsigned char* p) {
    PackageEntry e;
    e.FileOffset = ReadLe32(p);
    e.StoredSize = ReadLe32(p + 4);
    e.OriginalSize = ReadLe32(p + 8);
    for (int i = 0; i < ExtensionSize; ++i)
        e.Extension[i] = (char)p[12 + i];
    return e;
}

inline void FormatPackageEntry(const PackageEntry& e, unsigned char* p) {
    WriteLe32(p, e.FileOffset);
    WriteLe32(p + 4, e.StoredSize);
    WriteLe32(p + 8, e.OriginalSize);
    for (int i = 0; i < ExtensionSize; ++i)
        p[12 + i] = (unsigned char)e.Extension[i];
}
