#include "decoder/streams.h"

#include "decoder/decode.h"

#include <string.h>

namespace {

InputStream Input;
OutputStream Output;

} // namespace

void ResetReadPtr(InputStream& in) {
    memset(in.buffer, 0, sizeof in.buffer);
    in.available = 0;
    in.position = 0;
    in.truncated = false;
}

void ResetWritePtr(OutputStream& out) {
    memset(out.buffer, 0, sizeof out.buffer);
    out.count = 0;
    out.blockSize = 0;
    out.written = 0;
    out.failed = false;
}

namespace {

// Fills the empty input buffer with the entry's next stored bytes; false when
// none came, and from then on at every call: the package was cut short.
__attribute__((noinline)) bool Refill(InputStream& in, uint32_t untaken) {
    if (in.truncated) {
        return false;
    }
    UINT ask = untaken < StreamBufferSize ? untaken : StreamBufferSize;
    UINT got = _lread(in.file, in.buffer, ask);
    // A read error counts as the end of the file; a short read means the
    // package was cut, and the decode goes on over zero bytes.
    if (got > ask) {
        got = 0;
    }
    if (got < ask) {
        in.truncated = true;
    }
    in.available = static_cast<int16_t>(got);
    in.position = 0;
    return got > 0;
}

// WritePtr for a byte that may end a block, or falls past the original size
// or after a failed write.
__attribute__((noinline)) void WriteLast(OutputStream& out, uint8_t byte, int32_t originalSize) {
    uint32_t size = static_cast<uint32_t>(originalSize);
    if (out.written + out.count >= size || out.failed) {
        return;
    }
    out.buffer[out.count++] = byte;
    if (out.blockSize == 0) {
        uint32_t left = size - out.written;
        out.blockSize = static_cast<int16_t>(left < StreamBufferSize ? left : StreamBufferSize);
    }
    if (out.count < out.blockSize) {
        return;
    }
    UINT done =
        _lwrite(out.file, reinterpret_cast<const char*>(out.buffer), static_cast<UINT>(out.count));
    if (done != static_cast<UINT>(out.count)) {
        out.failed = true;
        return;
    }
    out.written += static_cast<uint32_t>(out.count);
    out.count = 0;
    out.blockSize = 0;
}

} // namespace

// The two calls of every byte: each takes the usual case in a few
// instructions, inline in the decoder, and leaves the rest to a function of
// its own.
uint8_t ReadPtr(InputStream& in, uint32_t untaken) {
    if (in.available < 1 && !Refill(in, untaken)) {
        return 0;
    }
    --in.available;
    return in.buffer[in.position++];
}

void WritePtr(OutputStream& out, uint8_t byte, int32_t originalSize) {
    // A set block size lies within the original size, and a failed write
    // leaves the buffer full: room before the block's last byte means the
    // byte is simply kept.
    if (out.count + 1 < out.blockSize) {
        out.buffer[out.count++] = byte;
        return;
    }
    WriteLast(out, byte, originalSize);
}

namespace {

// The part of a decompression that follows the naming of the source file;
// the streams are reset already.
int DecodeFile(const char* sourcePath, uint32_t fileOffset, uint32_t originalSize,
               uint32_t storedSize, const char* targetPath) {
    Input.file = _lopen(sourcePath, OF_READ | OF_SHARE_DENY_NONE);
    if (Input.file == HFILE_ERROR) {
        return 0;
    }
    // A seek past the end shows up as a truncated entry at the first read.
    _llseek(Input.file, static_cast<LONG>(fileOffset), FILE_BEGIN);
    Output.file = _lcreat(targetPath, 0);
    if (Output.file == HFILE_ERROR) {
        _lclose(Input.file);
        return 0;
    }
    DecodeStream(Input, Output, static_cast<int32_t>(originalSize), storedSize);
    _lclose(Output.file);
    _lclose(Input.file);
    return Input.truncated || Output.failed ? 0 : 1;
}

} // namespace

int DecompressEntry(HINSTANCE instance, uint32_t fileOffset, uint32_t originalSize,
                    uint32_t storedSize, const char* targetPath) {
    ResetReadPtr(Input);
    ResetWritePtr(Output);
    char installerPath[260];
    // A path that fills the buffer was cut: it would name another file.
    DWORD length = GetModuleFileNameA(instance, installerPath, sizeof installerPath);
    if (length == 0 || length >= sizeof installerPath) {
        return 0;
    }
    return DecodeFile(installerPath, fileOffset, originalSize, storedSize, targetPath);
}

int DecompressFile(const char* sourcePath, uint32_t fileOffset, uint32_t originalSize,
                   uint32_t storedSize, const char* targetPath) {
    ResetReadPtr(Input);
    ResetWritePtr(Output);
    return DecodeFile(sourcePath, fileOffset, originalSize, storedSize, targetPath);
}
