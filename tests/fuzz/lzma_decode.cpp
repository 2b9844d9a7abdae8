// A module resource as the launcher decodes it: one byte that sets how many bytes each read
// hands over (0: as many as asked), then the LZMA-alone stream. The streamed decode is checked
// against liblzma decoding the whole stream in one call, and the stream cut by its last byte
// must fail: a truncated module is never taken as decoded.
#include "launcher/lzma_decode.h"

#include "fuzz_input.h"

#include <lzma.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

// More than any module; a stream that says it holds more is cut off here by the sink.
const size_t kOutputLimit = 1024 * 1024;

struct MemorySource {
    const uint8_t* data;
    size_t size;
    size_t chunk;
};

bool readChunk(void* source, uint8_t* buffer, size_t capacity, size_t* read) {
    MemorySource& in = *static_cast<MemorySource*>(source);
    size_t n = in.size < capacity ? in.size : capacity;
    if (in.chunk && n > in.chunk) n = in.chunk;
    if (n) memcpy(buffer, in.data, n);
    in.data += n;
    in.size -= n;
    *read = n;
    return true;
}

bool writeChunk(void* sink, const uint8_t* data, size_t size) {
    Bytes& out = *static_cast<Bytes*>(sink);
    if (out.size() + size > kOutputLimit) return false;
    out.insert(out.end(), data, data + size);
    return true;
}

bool streamed(const uint8_t* data, size_t size, size_t chunk, Bytes& out) {
    MemorySource source = {data, size, chunk};
    out.clear();
    return decodeLzmaAlone(readChunk, &source, writeChunk, &out);
}

// The whole stream in one call; consumed is how much of it the stream took.
lzma_ret whole(const uint8_t* data, size_t size, Bytes& out, size_t& consumed) {
    lzma_stream stream = LZMA_STREAM_INIT;
    lzma_ret ret = lzma_alone_decoder(&stream, DECODER_MEMORY_LIMIT);
    if (ret != LZMA_OK) return ret;
    stream.next_in = data;
    stream.avail_in = size;
    out.clear();
    do {
        // Grown as the output comes, up to one byte past the limit.
        const size_t done = out.size();
        out.resize(done + 64 * 1024 < kOutputLimit + 1 ? done + 64 * 1024 : kOutputLimit + 1);
        stream.next_out = out.data() + done;
        stream.avail_out = out.size() - done;
        ret = lzma_code(&stream, LZMA_FINISH);
        out.resize(out.size() - stream.avail_out);
    } while (ret == LZMA_OK && out.size() <= kOutputLimit);
    consumed = size - stream.avail_in;
    lzma_end(&stream);
    return ret;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t chunk = data[0];
    const uint8_t* stream = data + 1;
    const size_t streamSize = size - 1;

    Bytes expected;
    size_t consumed = 0;
    const lzma_ret reference = whole(stream, streamSize, expected, consumed);
    Bytes out;
    const bool decoded = streamed(stream, streamSize, chunk, out);
    if (expected.size() > kOutputLimit) {
        // The sink refused the rest: never a success.
        FUZZ_CHECK(!decoded);
        return 0;
    }
    FUZZ_CHECK(decoded == (reference == LZMA_STREAM_END));
    if (!decoded) return 0;
    FUZZ_CHECK(out == expected);
    Bytes cut;
    FUZZ_CHECK(!streamed(stream, consumed - 1, chunk, cut));
    return 0;
}
