// Checks that an installer image can take a package, or holds one laid out
// as the installer's locator expects: the properties that locator relies on,
// checked strictly, since it checks nothing. The image may be hostile (a
// stub handed to the authoring tool, an installer handed to verify), so
// every read is bounded and so is the walk of its resource tree.
#include "package/format.h"
#include "package/pe_layout.h"
#include "package/writer.h"

#include <set>
#include <string>

namespace pkg {
namespace {

struct Reader {
    const ByteSource& image;

    void Need(uint64_t offset, uint64_t size, const char* what) const {
        if (offset + size > image.Size())
            throw PackageError(std::string("installer image cut short in ") + what);
    }
    uint32_t U32(uint64_t offset, const char* what) const {
        unsigned char bytes[4];
        Need(offset, 4, what);
        image.ReadAt(offset, bytes, 4);
        return ReadLe32(bytes);
    }
    uint16_t U16(uint64_t offset, const char* what) const {
        unsigned char bytes[2];
        Need(offset, 2, what);
        image.ReadAt(offset, bytes, 2);
        return ReadLe16(bytes);
    }
};

struct Section {
    std::string name;
    uint32_t virtualAddress, rawSize, rawData;
};

// Everything in the resource section that the package must not overwrite:
// the tables, names and data entries, and every resource's data.
struct ResourceWalk {
    const Reader& r;
    const Section& rsrc;
    uint64_t highestEnd = 0; // file offset past the last such byte
    // A tree the build makes shares no directory and has no more entries
    // than its bytes can hold; a hostile one could make the walk endless.
    std::set<uint32_t> visited;
    uint64_t entriesLeft = r.image.Size() / ResourceEntrySize;

    void Cover(uint64_t offset, uint64_t size) {
        r.Need(offset, size, "resource tree");
        if (offset + size > highestEnd)
            highestEnd = offset + size;
    }
    uint64_t FileOffsetOfRva(uint32_t rva) const {
        if (rva < rsrc.virtualAddress)
            throw PackageError("resource data outside .rsrc");
        return uint64_t(rva - rsrc.virtualAddress) + rsrc.rawData;
    }
    std::string NameAt(uint32_t offset) const {
        uint64_t at = uint64_t(rsrc.rawData) + offset;
        uint16_t length = r.U16(at, "resource name");
        std::string name;
        for (uint16_t i = 0; i < length && i < 64; ++i)
            name += (char)r.U16(at + 2 + 2u * i, "resource name");
        return name;
    }
    void CoverName(uint32_t offset) {
        uint64_t at = uint64_t(rsrc.rawData) + offset;
        Cover(at, 2 + 2u * r.U16(at, "resource name"));
    }
    // Walks a directory; `skip` is the data entry whose data is LASTRES's.
    void Directory(uint32_t offset, int depth, uint64_t skip) {
        if (depth > 3)
            throw PackageError("resource tree deeper than three levels");
        if (!visited.insert(offset).second)
            throw PackageError("resource tree reaches one directory twice");
        uint64_t at = uint64_t(rsrc.rawData) + offset;
        uint32_t count = uint32_t(r.U16(at + ResourceNamedEntryCount, "resource directory")) +
                         r.U16(at + ResourceIdEntryCount, "resource directory");
        if (count > entriesLeft)
            throw PackageError("resource tree has more entries than the file can hold");
        entriesLeft -= count;
        Cover(at, ResourceDirectoryHeaderSize + ResourceEntrySize * count);
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t entry = at + ResourceDirectoryHeaderSize + ResourceEntrySize * i;
            uint32_t name = r.U32(entry, "resource entry");
            uint32_t target = r.U32(entry + ResourceEntryTarget, "resource entry");
            // A name field with the flag holds the offset of a counted name.
            if (name & SubdirectoryFlag)
                CoverName(name & ~SubdirectoryFlag);
            if (target & SubdirectoryFlag) {
                Directory(target & ~SubdirectoryFlag, depth + 1, skip);
            } else {
                uint64_t data = uint64_t(rsrc.rawData) + target;
                Cover(data, ResourceDataEntrySize);
                if (data != skip)
                    Cover(FileOffsetOfRva(r.U32(data, "data entry")),
                          r.U32(data + ResourceDataSize, "data entry"));
            }
        }
    }
};

std::vector<Section> ReadSections(const Reader& r, uint32_t pe) {
    uint16_t sectionCount =
        r.U16(pe + FileHeaderFromLfanew + FileHeaderNumberOfSections, "file header");
    std::vector<Section> sections;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        uint64_t at = pe + SectionHeaderFromLfanew(i);
        r.Need(at, SectionHeaderSize, "section table");
        char name[SectionNameSize + 1] = {};
        r.image.ReadAt(at, name, SectionNameSize);
        Section s;
        s.name = name;
        s.virtualAddress = r.U32(at + SectionVirtualAddress, "section table");
        s.rawSize = r.U32(at + SectionSizeOfRawData, "section table");
        s.rawData = r.U32(at + SectionPointerToRawData, "section table");
        sections.push_back(s);
    }
    return sections;
}

} // namespace

StubLayout CheckImageLayout(const ByteSource& image) {
    Reader r{image};
    unsigned char mz[2] = {};
    if (image.Size() < DosHeaderSize || image.ReadAt(0, mz, 2) != 2 || mz[0] != 'M' || mz[1] != 'Z')
        throw PackageError("not a Windows executable (no MZ header)");
    uint32_t pe = r.U32(DosLfanewOffset, "DOS header");
    const uint64_t fileHeader = uint64_t(pe) + FileHeaderFromLfanew;
    if (r.U32(pe, "PE signature") != PeSignature)
        throw PackageError("no PE signature");
    if (r.U16(fileHeader + FileHeaderMachine, "file header") != MachineI386)
        throw PackageError("not a 32-bit x86 image");
    if (r.U16(fileHeader + FileHeaderSizeOfOptionalHeader, "file header") != Pe32OptionalHeaderSize)
        throw PackageError("optional header is not the 224-byte PE32 one");
    if (r.U16(uint64_t(pe) + OptionalHeaderFromLfanew + OptionalMagic, "optional header") !=
        Pe32Magic)
        throw PackageError("optional header is not PE32");

    std::vector<Section> sections = ReadSections(r, pe);
    if (sections.empty() || sections.back().name != ".rsrc")
        throw PackageError(".rsrc is not the last section");
    const Section& rsrc = sections.back();
    for (size_t i = 0; i + 1 < sections.size(); ++i) {
        if (sections[i].name == ".rsrc")
            throw PackageError("more than one .rsrc section");
        if (sections[i].rawData + uint64_t(sections[i].rawSize) > rsrc.rawData)
            throw PackageError("section " + sections[i].name + " lies after .rsrc in the file");
    }

    // The locator takes the first entry of each level: it must be LASTRES,
    // then name 1000, then language 1033.
    uint64_t root = rsrc.rawData;
    uint32_t typeName = r.U32(root + ResourceDirectoryHeaderSize, "resource root");
    ResourceWalk walk{r, rsrc, 0, {}};
    if (!(typeName & SubdirectoryFlag) || walk.NameAt(typeName & ~SubdirectoryFlag) != "LASTRES")
        throw PackageError("LASTRES is not the first resource type");
    // The first entry of the subdirectory that the directory entry at
    // `entry` points to; `what` names that entry for the message.
    auto firstEntryBelow = [&](uint64_t entry, const std::string& what) {
        uint32_t target = r.U32(entry + ResourceEntryTarget, what.c_str());
        if (!(target & SubdirectoryFlag))
            throw PackageError(what + " has nothing below it");
        return root + (target & ~SubdirectoryFlag) + ResourceDirectoryHeaderSize;
    };
    uint64_t names = firstEntryBelow(root + ResourceDirectoryHeaderSize, "LASTRES");
    if (r.U32(names, "LASTRES names") != 1000)
        throw PackageError("the first LASTRES resource is not 1000");
    uint64_t languages = firstEntryBelow(names, "LASTRES 1000");
    if (r.U32(languages, "LASTRES languages") != 1033)
        throw PackageError("the first language of LASTRES 1000 is not 1033");
    uint32_t dataEntry = r.U32(languages + ResourceEntryTarget, "LASTRES languages");
    if (dataEntry & SubdirectoryFlag)
        throw PackageError("LASTRES 1000 1033 is not data");
    uint64_t entry = root + dataEntry;
    uint64_t data = walk.FileOffsetOfRva(r.U32(entry, "LASTRES data entry"));
    r.Need(data, 4, "LASTRES data");

    walk.Directory(0, 1, entry);
    if (walk.highestEnd > data)
        throw PackageError("LASTRES data is not the last data of .rsrc");
    if (data >= 0x80000000u)
        throw PackageError("LASTRES data past 2 GiB");
    return StubLayout{uint32_t(data), rsrc.rawData, rsrc.virtualAddress,
                      uint64_t(rsrc.rawData) + rsrc.rawSize, pe};
}

StubLayout CheckStubLayout(const std::vector<uint8_t>& image) {
    StubLayout layout = CheckImageLayout(MemoryBytes(image));
    if (layout.rsrcEnd < image.size())
        throw PackageError("data follows the .rsrc section: a package or a signature is already "
                           "in it");
    // The build leaves only zero padding after the four LASTRES bytes.
    for (size_t i = size_t(layout.packageOffset) + 4; i < image.size(); ++i)
        if (image[i] != 0)
            throw PackageError("a package is already in it (bytes after the LASTRES data)");
    return layout;
}

} // namespace pkg
