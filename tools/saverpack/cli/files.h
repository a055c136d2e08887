// Files as the tool handles them: inputs read whole with their sizes
// checked first, installers read in place, outputs written beside their
// target under a temporary name and renamed only when whole.
#pragma once

#include "package/byte_source.h"
#include "tools/saverpack/failure.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace saverpack {

namespace fs = std::filesystem;

// A path from the command line (UTF-8) and back, the same on both systems.
fs::path PathOf(const std::string& utf8);
std::string TextOf(const fs::path& path);

// An installer file read in place; the file must stay unchanged meanwhile.
class FileBytes : public pkg::ByteSource {
  public:
    explicit FileBytes(const fs::path& path); // throws Failure naming the file
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t count) const override;

  private:
    // The reader walks the file in small steps (40-byte section headers,
    // 16-byte records): a block around them is kept.
    mutable std::ifstream in_;
    uint64_t size_ = 0;
    mutable std::vector<char> block_;
    mutable uint64_t blockStart_ = 0;
};

// A file a command reads, under the name the command line gave it.
struct NamedFile {
    std::string shown;
    fs::path path;
};

// Throws Failure naming the first of `inputs` that is the very file
// `output` is, by identity rather than by name, so that writing `output`
// cannot destroy it. `outputRole` says what `output` is ("the installer
// to sign"). An input that cannot be found is left to the checks that
// read it.
void RefuseToReplaceAnInput(const fs::path& output, const std::string& outputRole,
                            const std::vector<NamedFile>& inputs);

// The whole of a file; throws Failure naming it when it cannot be read, or
// when it holds more than `most` bytes, which is then not read at all.
std::vector<uint8_t> ReadWholeFile(const fs::path& path, const std::string& shownName,
                                   uint64_t most);

// Ctrl-C and termination requests, noticed where the work can stop cleanly.
void CatchInterrupts();
// Throws Failure when an interrupt has come.
void StopIfInterrupted();

// A file being written beside `target`: removed when dropped unless
// Commit() renamed it over the target.
class PendingFile {
  public:
    explicit PendingFile(const fs::path& target);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const fs::path& Path() const { return temporary_; }
    // Opens it for writing, cut to length 0.
    void Open();
    void Write(const void* bytes, size_t count);
    void WriteAll(const std::vector<uint8_t>& bytes);
    // Closes it; throws Failure when anything written did not reach it.
    void Close();
    // Renames it over the target.
    void Commit();

  private:
    fs::path target_;
    fs::path temporary_;
    std::ofstream out_;
    bool committed_ = false;
};

} // namespace saverpack
