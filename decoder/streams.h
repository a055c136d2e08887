// Restoring one compressed package entry into its target file.
//
// The installer file is read and the target written through two process-wide
// 16,384-byte buffers, so the decoder's per-byte calls touch only memory.
#pragma once

#include "platform/win.h"

#include <stdint.h>

constexpr uint32_t StreamBufferSize = 16384;

struct InputStream {
    HFILE file;
    uint8_t buffer[StreamBufferSize];
    int16_t available; // bytes in the buffer not yet delivered
    int16_t position;  // next byte to deliver
    bool truncated;    // the file ended before the entry's stored bytes
};

struct OutputStream {
    HFILE file;
    uint8_t buffer[StreamBufferSize];
    int16_t count;     // bytes in the buffer
    int16_t blockSize; // count at which the buffer goes out; 0 while unset
    uint32_t written;  // bytes of this entry already in the target file
    bool failed;       // a write stored fewer bytes than asked
};

void ResetReadPtr(InputStream& in);
void ResetWritePtr(OutputStream& out);

// The next stored byte. Refills ask for no more than the entry's untaken
// bytes, so nothing past the entry is ever read. A file that ends early
// yields zero bytes, which the decoder can always end on.
uint8_t ReadPtr(InputStream& in, uint32_t untaken);

// Takes one decoded byte. Bytes past the original size are dropped; a block
// goes out as soon as it is full, the last one as soon as its last byte
// arrives, so nothing is left to flush when the decoder stops. After a short
// write nothing more is written.
void WritePtr(OutputStream& out, uint8_t byte, int32_t originalSize);

// Decodes the entry at `fileOffset` of the installer's own file into
// `targetPath`, created or truncated. Returns 1 when the target holds the
// entry's originalSize decoded bytes, and 0 when the installer's file cannot
// be named or opened, the target cannot be created, the installer file ends
// before the entry's stored bytes, or a write comes up short (a full disk);
// the target then keeps whatever was written. Never ends the process.
int DecompressEntry(HINSTANCE instance, uint32_t fileOffset, uint32_t originalSize,
                    uint32_t storedSize, const char* targetPath);

// The same from any file: what DecompressEntry does once it has named the
// installer's. The benchmarks time the installer's own path with it.
int DecompressFile(const char* sourcePath, uint32_t fileOffset, uint32_t originalSize,
                   uint32_t storedSize, const char* targetPath);
