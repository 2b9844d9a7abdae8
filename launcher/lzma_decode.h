// Decoding an LZMA-alone stream as the launcher installs a module: read in chunks from a
// source, written in chunks to a sink. The stream is whatever the resource holds, so the
// decode must hold for any bytes; it touches no file itself, the install hands it both ends.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum : size_t {
    // The most memory the decoder may take: four times what the stored modules' 16 MiB
    // dictionary needs. The header alone decides the dictionary's size, up to 4 GiB; a stream
    // that asks for more than this is refused like one whose memory cannot be had.
    DECODER_MEMORY_LIMIT = 64 * 1024 * 1024,
};

// Fills buffer with up to capacity bytes and says how many came; 0 at the end of the stream.
// false on a read error.
typedef bool (*ChunkReader)(void* source, uint8_t* buffer, size_t capacity, size_t* read);
// Takes all of data; false when it cannot.
typedef bool (*ChunkWriter)(void* sink, const uint8_t* data, size_t size);

// Streams an LZMA-alone stream from source to sink. Fails on a short or bad header, allocation,
// a dictionary beyond DECODER_MEMORY_LIMIT, read and write errors, corrupt data, and input that ends before the stated size (or, when
// the size is not stated, before the end marker). On failure the sink may hold part of the
// data: the caller discards it.
bool decodeLzmaAlone(ChunkReader read, void* source, ChunkWriter write, void* sink);
