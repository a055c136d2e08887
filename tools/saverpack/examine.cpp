#include "tools/saverpack/examine.h"

#include "decoder/decode.h"
#include "package/pe_layout.h"
#include "package/writer.h"
#include "tools/saverpack/checksum.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace saverpack {
namespace {

constexpr uint64_t MostPerStoredByte = 8 * MaxMatch / (1 + OffsetRuns[0].codeLength + 6);
static_assert(MostPerStoredByte == 24, "the bound the comment in examine.h derives");

enum : uint32_t {
    // Past its stored bytes a stream decoded the second time reads this
    // many one bytes, then zeros again: the first bit past decides.
    OneBytesPast = 4096,
};

std::string Range(uint64_t from, uint64_t to) {
    return Thousands(from) + " to " + Thousands(to);
}

struct Judge {
    Examination& x;
    void Problem(const std::string& text, bool stopsExtract = false) {
        x.findings.push_back({true, stopsExtract, text});
    }
    void Warning(const std::string& text) { x.findings.push_back({false, false, text}); }
};

std::string EntryName(size_t index) {
    return "entry " + std::to_string(index);
}

uint32_t U32At(const pkg::ByteSource& file, uint64_t offset, bool& ok) {
    unsigned char bytes[4] = {};
    ok = ok && file.ReadAt(offset, bytes, 4) == 4;
    return ReadLe32(bytes);
}

SignatureBlock FindSignature(const pkg::ByteSource& file, const pkg::StubLayout& layout) {
    SignatureBlock s;
    bool ok = true;
    uint64_t optional = uint64_t(layout.peOffset) + OptionalHeaderFromLfanew;
    uint32_t directories = U32At(file, optional + OptionalNumberOfRvaAndSizes, ok);
    s.offset = U32At(file, optional + SecurityDirectoryInOptional, ok);
    s.size = U32At(file, optional + SecurityDirectoryInOptional + 4, ok);
    s.present = ok && directories > SecurityDirectoryIndex && (s.offset != 0 || s.size != 0);
    return s;
}

void JudgeSignature(const pkg::ByteSource& file, Examination& x, uint64_t packageEnd, Judge& j) {
    const SignatureBlock& s = x.signature;
    uint64_t end = uint64_t(s.offset) + s.size;
    if (end > file.Size()) {
        j.Problem("the certificate table (" + Range(s.offset, end) +
                  ") runs past the end of the file");
        return;
    }
    if (s.offset < packageEnd)
        j.Problem("the certificate table (" + Range(s.offset, end) +
                  ") lies over the package, which ends at " + Thousands(packageEnd));
    unsigned char header[WinCertificateHeaderSize] = {};
    file.ReadAt(s.offset, header, sizeof header);
    if (s.size < WinCertificateHeaderSize || ReadLe32(header) > s.size ||
        ReadLe16(header + WinCertificateRevision) != WinCertRevision2 ||
        ReadLe16(header + WinCertificateType) != WinCertTypePkcsSignedData)
        j.Problem("the certificate table holds no Authenticode signature");
    if (end < file.Size())
        j.Warning(Thousands(file.Size() - end) + " bytes follow the signature");
}

// Whether [from, to) holds only zero bytes; read in blocks, since a hostile
// file may put gigabytes there.
bool AllZero(const pkg::ByteSource& file, uint64_t from, uint64_t to) {
    unsigned char block[65536];
    while (from < to) {
        size_t want = size_t(std::min<uint64_t>(sizeof block, to - from));
        size_t got = file.ReadAt(from, block, want);
        if (got == 0)
            return true;
        for (size_t i = 0; i < got; ++i)
            if (block[i] != 0)
                return false;
        from += got;
    }
    return true;
}

// The package ends with its last entry. What may follow: zeros up to the end
// of .rsrc (a tiny package is padded to it), the up to seven zeros that
// align a signature, and the signature.
void JudgeTrailingBytes(const pkg::ByteSource& file, const Examination& x, uint64_t packageEnd,
                        uint64_t rsrcEnd, Judge& j) {
    uint64_t next = x.signature.present ? x.signature.offset : file.Size();
    if (next <= packageEnd)
        return;
    uint64_t aligned = (packageEnd + 7) / 8 * 8;
    if (next <= std::max(rsrcEnd, aligned) && AllZero(file, packageEnd, next))
        return;
    j.Warning(Thousands(next - packageEnd) + " bytes after the last entry (from " +
              Thousands(packageEnd) +
              ") are neither padding nor a signature; the installer "
              "ignores them");
}

void JudgeEntry(const pkg::ByteSource& file, Examination& x, size_t index, Judge& j) {
    EntryView& v = x.entries[index];
    const PackageEntry& e = v.entry;
    const std::string name = EntryName(index);
    uint64_t end = uint64_t(e.FileOffset) + e.StoredSize;
    v.inFile = false;
    if (end > file.Size())
        j.Problem(name + ": its bytes (" + Range(e.FileOffset, end) +
                      ") run past the end of the file (" + Thousands(file.Size()) + " bytes)",
                  true);
    else if (end > InstallerReadLimit)
        j.Problem(name + ": its bytes run past 2 GiB, where the installer cannot read", true);
    else
        v.inFile = true;
    if (v.inFile && e.FileOffset < x.directory.end)
        j.Problem(name + ": its bytes start at " + Thousands(e.FileOffset) +
                  ", before the end of the package directory (" + Thousands(x.directory.end) + ")");
    if (index >= 2) {
        std::string why = ExtensionProblem(e.Extension);
        if (!why.empty())
            j.Problem(name + ": its extension field holds " + why, true);
    }
    if (e.OriginalSize >= InstallerReadLimit)
        j.Problem(name + ": it declares " + Thousands(e.OriginalSize) +
                      " bytes, 2 GiB or more, which the installer's decoder cannot produce",
                  true);
    else if (e.OriginalSize > MostDecodedFrom(e.StoredSize))
        j.Problem(name + ": it declares " + Thousands(e.OriginalSize) + " bytes from " +
                      Thousands(e.StoredSize) +
                      " stored bytes, more than any whole stream can give (24 per byte)",
                  true);
    v.decodable = v.inFile && e.OriginalSize != 0 && e.OriginalSize < InstallerReadLimit &&
                  e.OriginalSize <= MostDecodedFrom(e.StoredSize);
}

// Entries that share bytes; neither of a pair is decoded, which also keeps
// the decoding within the file's size however many entries claim it.
void JudgeOverlaps(Examination& x, Judge& j) {
    std::vector<size_t> order;
    for (size_t i = 0; i < x.entries.size(); ++i)
        if (x.entries[i].inFile)
            order.push_back(i);
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return x.entries[a].entry.FileOffset < x.entries[b].entry.FileOffset;
    });
    size_t reach = 0; // the entry reaching furthest so far
    uint64_t reachEnd = 0;
    for (size_t k = 0; k < order.size(); ++k) {
        const PackageEntry& e = x.entries[order[k]].entry;
        if (k > 0 && e.FileOffset < reachEnd) {
            j.Problem(EntryName(std::min(reach, order[k])) + " and " +
                      EntryName(std::max(reach, order[k])) + " share bytes");
            x.entries[order[k]].decodable = false;
            x.entries[reach].decodable = false;
        }
        if (k == 0 || uint64_t(e.FileOffset) + e.StoredSize > reachEnd) {
            reach = order[k];
            reachEnd = uint64_t(e.FileOffset) + e.StoredSize;
        }
    }
}

// BaseName.DAT and a FILEnnnn.DAT can be one file: the later one replaces
// the earlier, as Windows compares names without regard to case.
void JudgeSameTargets(Examination& x, Judge& j) {
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < x.entries.size(); ++i) {
        std::string key = WindowsPath(x.entries[i].path);
        std::transform(key.begin(), key.end(), key.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; });
        auto [at, fresh] = seen.emplace(key, i);
        if (!fresh) {
            j.Problem(EntryName(at->second) + " and " + EntryName(i) +
                      " install to the same file " + WindowsPath(x.entries[i].path) +
                      "; the later replaces the earlier");
            at->second = i;
        }
    }
}

void JudgeLayout(const pkg::ByteSource& file, Examination& x, pkg::StubLayout& layout, bool& known,
                 Judge& j) {
    try {
        layout = pkg::CheckImageLayout(file);
        known = true;
        if (layout.packageOffset != x.where.headerOffset)
            j.Problem("the locator finds the package at " + Thousands(x.where.headerOffset) +
                      ", not at the LASTRES data (" + Thousands(layout.packageOffset) + ")");
    } catch (const pkg::PackageError& e) {
        j.Problem(std::string("layout: ") + e.what());
    }
}

uint16_t U16At(const pkg::ByteSource& file, uint64_t offset, bool& ok) {
    unsigned char bytes[2] = {};
    ok = ok && file.ReadAt(offset, bytes, 2) == 2;
    return ReadLe16(bytes);
}

// What Windows needs of the tree beyond the locator's walk: an image it
// maps whole, the header's resource entry at .rsrc, and the data of every
// resource but LASTRES (which the package overwrites) inside the section.
void JudgeResources(const pkg::ByteSource& file, Examination& x, Judge& j) {
    std::vector<Resource> resources;
    try {
        resources = ReadResources(file, x.layout);
        x.identity = ReadIdentity(resources);
        x.identityKnown = true;
    } catch (const pkg::PackageError& e) {
        j.Warning(std::string("resources: ") + e.what() +
                  "; Windows may show no icon or version for it");
        return;
    }
    bool ok = true;
    uint32_t pe = x.layout.peOffset;
    uint64_t optional = uint64_t(pe) + OptionalHeaderFromLfanew;
    uint16_t sections = U16At(file, pe + FileHeaderFromLfanew + FileHeaderNumberOfSections, ok);
    if (!ok || sections == 0)
        return; // the layout check read it already
    uint64_t header = pe + SectionHeaderFromLfanew(sections - 1u);
    uint32_t virtualSize = U32At(file, header + SectionVirtualSize, ok);
    uint32_t rawSize = U32At(file, header + SectionSizeOfRawData, ok);
    uint32_t sectionAlignment = U32At(file, optional + OptionalSectionAlignment, ok);
    uint32_t sizeOfImage = U32At(file, optional + OptionalSizeOfImage, ok);
    uint32_t directoryAt = U32At(file, optional + ResourceDirectoryInOptional, ok);
    uint32_t directorySize = U32At(file, optional + ResourceDirectoryInOptional + 4, ok);
    if (!ok)
        return; // the layout check read all of these already
    uint64_t mapped = std::max(virtualSize, rawSize);
    uint64_t imageEnd = uint64_t(x.layout.rsrcVirtualAddress) + mapped;
    if (sectionAlignment != 0)
        imageEnd = (imageEnd + sectionAlignment - 1) / sectionAlignment * sectionAlignment;
    if (sizeOfImage < imageEnd)
        j.Problem("the header's SizeOfImage (" + Thousands(sizeOfImage) +
                  ") ends before .rsrc does (" + Thousands(imageEnd) +
                  "); Windows will not run it");
    if (directoryAt != x.layout.rsrcVirtualAddress || directorySize == 0 || directorySize > mapped)
        j.Warning("the header's resource directory entry does not give .rsrc; Windows shows no "
                  "icon or version for it");
    uint64_t sectionEnd = uint64_t(x.layout.rsrcOffset) + std::min(virtualSize, rawSize);
    for (const Resource& r : resources) {
        if (r.type.named && r.type.name == u"LASTRES")
            continue;
        if (r.at + r.data.size() > sectionEnd) {
            j.Warning("resources: the data of a resource of type " +
                      (r.type.named ? Utf16ToUtf8(r.type.name) : std::to_string(r.type.id)) +
                      " runs past the end of .rsrc; Windows reads zeros there");
            break;
        }
    }
    for (const IconEntryView& icon : x.identity.icon)
        if (!icon.present)
            j.Warning("icon group 101 names icon " + std::to_string(icon.id) +
                      ", which is not there; Windows shows no icon of that size");
}

} // namespace

std::string TitleOf(const pkg::PackageDirectory& d) {
    return Windows1252ToUtf8(std::string(d.title, strnlen(d.title, TitleSize)));
}

uint64_t MostDecodedFrom(uint32_t storedSize) {
    return MostPerStoredByte * storedSize;
}

bool Examination::Sound() const {
    return std::none_of(findings.begin(), findings.end(),
                        [](const Finding& f) { return f.problem; });
}

bool Examination::CanExtract() const {
    return std::none_of(findings.begin(), findings.end(),
                        [](const Finding& f) { return f.stopsExtract; });
}

Examination Examine(const pkg::ByteSource& file, const std::string& installerFileName) {
    Examination x;
    Judge j{x};
    x.names = NamesOf(installerFileName);
    x.where = pkg::FindPackage(file);
    if (!x.where.found) {
        j.Problem("no package: the installer's walk to it fails: " + x.where.failure, true);
        return x;
    }
    JudgeLayout(file, x, x.layout, x.layoutKnown, j);
    if (x.layoutKnown)
        JudgeResources(file, x, j);

    x.directory = pkg::ReadDirectory(file, x.where.headerOffset);
    const pkg::PackageDirectory& d = x.directory;
    if (d.tooMany)
        j.Problem("the package directory has more than " + Thousands(pkg::MostEntriesRead) +
                      " entries, more than saverpack reads",
                  true);
    else if (!d.terminated)
        j.Problem("the package directory has no terminator before the end of the file", true);
    if (d.entries.empty())
        j.Problem(d.terminated ? "no package: its directory holds no entry, not even the saver"
                               : "no package: not one whole directory entry",
                  true);
    std::string nameError = InstallerNameError(installerFileName);
    if (!nameError.empty())
        j.Problem("as named, it cannot install: " + nameError, true);
    for (const std::string& w : InstallerNameWarnings(installerFileName))
        j.Warning(w);

    uint64_t packageEnd = d.end;
    for (size_t i = 0; i < d.entries.size(); ++i) {
        EntryView v;
        v.entry = d.entries[i];
        v.path = InstalledPath(x.names, uint32_t(i), d.firstFileNumber, v.entry.Extension);
        x.entries.push_back(v);
        JudgeEntry(file, x, i, j);
        // An entry cut off by the end of the file still owns what is left of it.
        packageEnd = std::max(
            packageEnd, std::min(file.Size(), uint64_t(v.entry.FileOffset) + v.entry.StoredSize));
    }
    JudgeOverlaps(x, j);
    JudgeSameTargets(x, j);

    if (x.layoutKnown)
        x.signature = FindSignature(file, x.layout);
    if (x.signature.present)
        JudgeSignature(file, x, packageEnd, j);
    JudgeTrailingBytes(file, x, packageEnd, x.layoutKnown ? x.layout.rsrcEnd : 0, j);
    return x;
}

namespace {

// An entry's stored bytes for DecodeStream, read in blocks; past them, for
// the second decode, one bytes.
struct EntrySource {
    const pkg::ByteSource& file;
    uint64_t next; // file offset of the next block
    uint32_t storedLeft;
    uint8_t block[65536];
    size_t position = 0, available = 0;
};

uint8_t ReadPtr(EntrySource& in, uint32_t) {
    if (in.position == in.available) {
        size_t want = std::min<size_t>(sizeof in.block, in.storedLeft);
        in.available = want == 0 ? 0 : in.file.ReadAt(in.next, in.block, want);
        in.next += in.available;
        in.storedLeft -= uint32_t(in.available);
        in.position = 0;
        // Past the stored bytes (the decoder asks only in the padded decode).
        if (in.available == 0)
            return 0xFF;
    }
    return in.block[in.position++];
}

// Collects decoded bytes into blocks for the writer; drops what lies past
// the original size.
struct BlockSink {
    BlockWriter write;
    void* context;
    uint32_t taken = 0;
    size_t count = 0;
    uint8_t block[65536];
};

void WritePtr(BlockSink& out, uint8_t byte, int32_t originalSize) {
    if (out.taken >= uint32_t(originalSize))
        return;
    out.block[out.count++] = byte;
    ++out.taken;
    if (out.count == sizeof out.block || out.taken == uint32_t(originalSize)) {
        out.write(out.context, out.block, out.count);
        out.count = 0;
    }
}

// FNV-1a over the decoded bytes: enough to tell two decodes apart.
void HashBlock(void* context, const uint8_t* bytes, size_t count) {
    uint64_t& h = *static_cast<uint64_t*>(context);
    for (size_t i = 0; i < count; ++i)
        h = (h ^ bytes[i]) * 0x100000001B3ull;
}

} // namespace

void RestoreEntry(const pkg::ByteSource& file, const PackageEntry& entry, BlockWriter write,
                  void* context, bool oneBitsPast) {
    auto source =
        std::make_unique<EntrySource>(EntrySource{file, entry.FileOffset, entry.StoredSize, {}});
    if (entry.OriginalSize == 0) {
        uint32_t left = entry.StoredSize;
        while (left > 0) {
            size_t got = file.ReadAt(source->next, source->block,
                                     std::min<size_t>(sizeof source->block, left));
            if (got == 0)
                return;
            write(context, source->block, got);
            source->next += got;
            left -= uint32_t(got);
        }
        return;
    }
    auto sink = std::make_unique<BlockSink>(BlockSink{write, context, 0, 0, {}});
    uint32_t readable = entry.StoredSize + (oneBitsPast ? uint32_t(OneBytesPast) : 0);
    DecodeStream(*source, *sink, int32_t(entry.OriginalSize), readable);
}

void CheckChecksum(const pkg::ByteSource& file, Examination& x) {
    if (x.checksumChecked)
        return;
    x.checksumChecked = true;
    if (!x.layoutKnown)
        return;
    uint64_t field = ChecksumFieldOffset(x.layout.peOffset);
    bool ok = true;
    uint32_t held = U32At(file, field, ok), wanted = PeChecksum(file, field);
    if (!ok || held == wanted)
        return;
    // saverpack stamps the right checksum into every installer it writes, and
    // the installer refuses to run when its non-zero checksum does not fit:
    // the file was changed after it was made. A zero one comes from another
    // tool or an older saverpack, which the installer still runs.
    char text[200];
    if (held == 0) {
        std::snprintf(text, sizeof text,
                      "the header's PE checksum is 0x%08X, the file's 0x%08X (saverpack sign "
                      "sets it right)",
                      unsigned(held), unsigned(wanted));
        x.findings.push_back({false, false, text});
        return;
    }
    std::snprintf(text, sizeof text,
                  "damaged: the header's PE checksum is 0x%08X, but the file's bytes give "
                  "0x%08X; it was changed after it was made, and the installer will refuse to run",
                  unsigned(held), unsigned(wanted));
    x.findings.push_back({true, true, text});
}

void CheckStreams(const pkg::ByteSource& file, Examination& x) {
    for (size_t i = 0; i < x.entries.size(); ++i) {
        const EntryView& v = x.entries[i];
        if (!v.decodable)
            continue;
        uint64_t asInstalled = 0xCBF29CE484222325ull, overOnes = asInstalled;
        RestoreEntry(file, v.entry, HashBlock, &asInstalled);
        RestoreEntry(file, v.entry, HashBlock, &overOnes, true);
        if (asInstalled != overOnes)
            x.findings.push_back({true, false,
                                  EntryName(i) + ": its stream needs bits past its " +
                                      Thousands(v.entry.StoredSize) +
                                      " stored bytes (damaged or cut short)"});
    }
}

} // namespace saverpack
