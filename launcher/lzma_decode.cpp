#include "launcher/lzma_decode.h"

#include <lzma.h>

namespace {

// The decoder's buffers on either side.
const size_t kDecodeBufferSize = 64 * 1024;

}  // namespace

bool decodeLzmaAlone(ChunkReader read, void* source, ChunkWriter write, void* sink) {
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&stream, DECODER_MEMORY_LIMIT) != LZMA_OK) return false;
    static uint8_t input[kDecodeBufferSize];
    static uint8_t output[kDecodeBufferSize];
    lzma_action action = LZMA_RUN;
    stream.next_out = output;
    stream.avail_out = sizeof(output);
    bool decoded = false;
    for (;;) {
        if (stream.avail_in == 0 && action == LZMA_RUN) {
            size_t got = 0;
            if (!read(source, input, sizeof(input), &got)) break;
            stream.next_in = input;
            stream.avail_in = got;
            if (got == 0) action = LZMA_FINISH;
        }
        lzma_ret ret = lzma_code(&stream, action);
        if (stream.avail_out == 0 || ret == LZMA_STREAM_END) {
            if (!write(sink, output, sizeof(output) - stream.avail_out)) break;
            stream.next_out = output;
            stream.avail_out = sizeof(output);
        }
        if (ret == LZMA_STREAM_END) {
            decoded = true;
            break;
        }
        if (ret != LZMA_OK) break;
    }
    lzma_end(&stream);
    return decoded;
}
