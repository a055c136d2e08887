// The PE checksum of an installer, which the stub's own no longer fits once
// a package is written into it: checked by tools that judge an image by it,
// so saverpack puts the right one in every installer it writes.
#pragma once

#include "package/byte_source.h"
#include "tools/saverpack/failure.h"

#include <cstdint>
#include <string>
#include <vector>

namespace saverpack {

// Where the optional header keeps the checksum, for the PE header at
// `peOffset` (e_lfanew).
uint64_t ChecksumFieldOffset(uint32_t peOffset);

// The checksum `file` should carry: its 16-bit little-endian words summed
// with the carries folded back in, the four bytes at `fieldOffset` counted
// as zeros and an odd last byte as a word of its own, plus its length.
uint32_t PeChecksum(const pkg::ByteSource& file, uint64_t fieldOffset);

// Where `image` keeps its checksum; throws Failure naming `shownName` when
// it has no PE header to keep one in.
uint64_t ChecksumFieldIn(const pkg::ByteSource& image, const std::string& shownName);

} // namespace saverpack
