#include "tools/saverpack/cli/files.h"

#include "tools/saverpack/cli/os.h"
#include "tools/saverpack/names.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <system_error>

namespace saverpack {
namespace {

volatile std::sig_atomic_t InterruptSeen = 0;

extern "C" void NoteInterrupt(int) {
    InterruptSeen = 1;
}

} // namespace

fs::path PathOf(const std::string& utf8) {
    return fs::u8path(utf8);
}

std::string TextOf(const fs::path& path) {
    return path.u8string();
}

FileBytes::FileBytes(const fs::path& path) {
    std::error_code error;
    fs::file_status status = fs::status(path, error);
    if (!fs::exists(status))
        throw Failure(TextOf(path) + ": cannot open it: no such file");
    // A device or a pipe has no size to walk within: /dev/zero would never end.
    if (!fs::is_regular_file(status))
        throw Failure(TextOf(path) + ": is not a file");
    in_.open(path, std::ios::binary);
    if (!in_)
        throw Failure(TextOf(path) + ": cannot open it: " + std::strerror(errno));
    size_ = fs::file_size(path, error);
    if (error)
        throw Failure(TextOf(path) + ": cannot read it: " + error.message());
}

size_t FileBytes::ReadAt(uint64_t offset, void* buffer, size_t count) const {
    const size_t BlockSize = 65536;
    if (offset >= size_ || count == 0)
        return 0;
    if (count > BlockSize) {
        in_.clear();
        in_.seekg(std::streamoff(offset));
        in_.read(static_cast<char*>(buffer), std::streamsize(count));
        return size_t(in_.gcount());
    }
    if (offset < blockStart_ || offset + count > blockStart_ + block_.size()) {
        block_.resize(BlockSize);
        in_.clear();
        in_.seekg(std::streamoff(offset));
        in_.read(block_.data(), std::streamsize(BlockSize));
        block_.resize(size_t(in_.gcount()));
        blockStart_ = offset;
    }
    size_t available = size_t(std::min<uint64_t>(count, blockStart_ + block_.size() - offset));
    std::memcpy(buffer, block_.data() + (offset - blockStart_), available);
    return available;
}

void RefuseToReplaceAnInput(const fs::path& output, const std::string& outputRole,
                            const std::vector<NamedFile>& inputs) {
    toolos::FileIdentity written, read;
    if (!toolos::IdentityOf(output, written))
        return; // a new file is no input
    for (const NamedFile& input : inputs)
        if (toolos::IdentityOf(input.path, read) && read == written)
            throw Failure(input.shown + ": is also " + outputRole +
                          ", which would replace it; nothing was written");
}

std::vector<uint8_t> ReadWholeFile(const fs::path& path, const std::string& shownName,
                                   uint64_t most) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Failure(shownName + ": cannot read it: " + std::strerror(errno));
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    in.seekg(0);
    // Checked in 64 bits: the 32-bit tool's size_t would cut a size above
    // 4 GiB down to a small one.
    if (size > 0 && uint64_t(size) > std::min<uint64_t>(most, SIZE_MAX))
        throw Failure(shownName + ": is " + Thousands(uint64_t(size)) +
                      " bytes; the most it may have is " + Thousands(most));
    std::vector<uint8_t> bytes(size_t(size > 0 ? size : 0));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size())))
        throw Failure(shownName + ": cannot read it");
    return bytes;
}

void CatchInterrupts() {
    std::signal(SIGINT, NoteInterrupt);
    std::signal(SIGTERM, NoteInterrupt);
}

void StopIfInterrupted() {
    if (InterruptSeen != 0)
        throw Failure("interrupted; nothing was written");
}

PendingFile::PendingFile(const fs::path& target) : target_(target) {
    // Hidden, and named for this process: two runs never share one.
    static int count = 0;
    std::string name = "." + TextOf(target.filename()) + ".saverpack-" +
                       std::to_string(toolos::ProcessId()) + "-" + std::to_string(++count);
    temporary_ = target.parent_path() / PathOf(name);
}

PendingFile::~PendingFile() {
    if (out_.is_open())
        out_.close();
    std::error_code ignored; // nothing more can be done about a file that will not go
    if (!committed_)
        fs::remove(temporary_, ignored);
}

void PendingFile::Open() {
    out_.open(temporary_, std::ios::binary | std::ios::trunc);
    if (!out_)
        throw Failure(TextOf(target_) + ": cannot write in its folder: " + std::strerror(errno));
}

void PendingFile::Write(const void* bytes, size_t count) {
    out_.write(static_cast<const char*>(bytes), std::streamsize(count));
    if (!out_)
        throw Failure(TextOf(target_) + ": cannot write it: " + std::strerror(errno));
}

void PendingFile::WriteAll(const std::vector<uint8_t>& bytes) {
    // In blocks, so an interrupt is seen before a large file is done.
    const size_t Block = size_t(1) << 20;
    for (size_t at = 0; at < bytes.size(); at += Block) {
        StopIfInterrupted();
        Write(bytes.data() + at, std::min(Block, bytes.size() - at));
    }
}

void PendingFile::Close() {
    out_.close();
    if (out_.fail())
        throw Failure(TextOf(target_) + ": cannot write it: " + std::strerror(errno));
}

void PendingFile::Commit() {
    std::error_code error;
    fs::rename(temporary_, target_, error);
    if (error)
        throw Failure(TextOf(target_) + ": cannot put it in place: " + error.message());
    committed_ = true;
}

} // namespace saverpack
