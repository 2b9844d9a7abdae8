// Runs a liblzma coder over a whole buffer in memory, for the build machine's tools.
#pragma once
#include <lzma.h>

#include <cstdint>
#include <vector>

// Feeds all of input and appends the output; ends the coder. Returns the last result
// (LZMA_STREAM_END when the coder finished), and how much input it left unread.
inline lzma_ret codeWhole(lzma_stream& stream, const std::vector<uint8_t>& input, std::vector<uint8_t>& out,
                          size_t* unread = nullptr) {
    stream.next_in = input.data();
    stream.avail_in = input.size();
    uint8_t buffer[1 << 16];
    lzma_ret ret;
    do {
        stream.next_out = buffer;
        stream.avail_out = sizeof(buffer);
        ret = lzma_code(&stream, LZMA_FINISH);
        out.insert(out.end(), buffer, buffer + (sizeof(buffer) - stream.avail_out));
    } while (ret == LZMA_OK);
    if (unread) *unread = stream.avail_in;
    lzma_end(&stream);
    return ret;
}
