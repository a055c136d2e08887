// Where extract puts each entry: the installer's own places, below a folder;
// and what it puts there.
#pragma once

#include "tools/saverpack/examine.h"

#include <string>
#include <vector>

namespace saverpack {

struct ExtractTarget {
    size_t entry;
    std::vector<std::string> path; // components below the folder
};

// The entries' places in directory order; where two entries install to one
// file the later one alone is kept, as the installer leaves it. Throws
// Failure when a component could name anything but one plain name inside
// the folder (empty, ".", "..", or holding a separator, ':' or a control
// character): the last guard of "nothing outside the folder".
std::vector<ExtractTarget> PlanExtraction(const Examination& examination);

// What extract writes of `file`, named `installer`, as both front ends plan
// it: the checksum checked (once; a damaged file is not extracted), then
// refused with a Failure naming `installer` for the first finding that
// stops an extraction, or for a place PlanExtraction refuses.
std::vector<ExtractTarget> ExtractionOf(const pkg::ByteSource& file, const std::string& installer,
                                        Examination& examination);

// An entry's installed bytes, as RestoreEntry gives them; the entry must
// be inFile, and a compressed one decodable.
std::vector<uint8_t> RestoredBytes(const pkg::ByteSource& file, const PackageEntry& entry);

} // namespace saverpack
