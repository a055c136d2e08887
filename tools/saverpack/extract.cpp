// Where extract puts each entry, and an entry's installed bytes in memory.
#include "tools/saverpack/extract.h"

#include "tools/saverpack/failure.h"

#include <algorithm>
#include <map>

namespace saverpack {
namespace {

// Whether `c` names exactly one entry of a folder.
bool IsPlainName(const std::string& c) {
    if (c.empty() || c == "." || c == "..")
        return false;
    return std::none_of(c.begin(), c.end(), [](char ch) {
        return ch == '/' || ch == '\\' || ch == ':' || (unsigned char)ch < 0x20;
    });
}

} // namespace

std::vector<ExtractTarget> PlanExtraction(const Examination& x) {
    std::vector<ExtractTarget> targets;
    std::map<std::string, size_t> byName; // upper-case path -> index in targets
    for (size_t i = 0; i < x.entries.size(); ++i) {
        const std::vector<std::string>& path = x.entries[i].path;
        for (const std::string& c : path)
            if (!IsPlainName(c))
                throw Failure("entry " + std::to_string(i) + " would be written as \"" +
                              WindowsPath(path) + "\", outside the folder");
        std::string key = WindowsPath(path);
        std::transform(key.begin(), key.end(), key.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; });
        auto [at, fresh] = byName.emplace(key, targets.size());
        if (fresh)
            targets.push_back({i, path});
        else
            targets[at->second].entry = i;
    }
    return targets;
}

std::vector<ExtractTarget> ExtractionOf(const pkg::ByteSource& file, const std::string& installer,
                                        Examination& x) {
    CheckChecksum(file, x);
    for (const Finding& f : x.findings)
        if (f.stopsExtract)
            throw Failure(installer + ": cannot extract it: " + f.text);
    try {
        return PlanExtraction(x);
    } catch (const Failure& e) {
        throw Failure(installer + ": " + e.what());
    }
}

std::vector<uint8_t> RestoredBytes(const pkg::ByteSource& file, const PackageEntry& entry) {
    std::vector<uint8_t> bytes;
    bytes.reserve(InstalledSize(entry));
    RestoreEntry(
        file, entry,
        [](void* context, const uint8_t* block, size_t count) {
            auto& out = *static_cast<std::vector<uint8_t>*>(context);
            out.insert(out.end(), block, block + count);
        },
        &bytes);
    return bytes;
}

} // namespace saverpack
