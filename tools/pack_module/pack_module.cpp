// Packs one removal-tool build into the LZMA-alone stream that the launcher carries as a
// "MODULE" resource: properties 0x5D (lc 3, lp 0, pb 2), a 16 MiB dictionary, the exact size
// in the 13-byte header and no end marker. Runs on the build machine with its liblzma.
//
// usage: pack_module <input> <output> [truncated|corrupt]
//   truncated  keep only the first half of the stream (a test fixture)
//   corrupt    spoil the first byte of the LZMA data, which every decoder checks (a test fixture)
#include "lzma_memory.h"

#include <lzma.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const uint8_t kProperties = 0x5D;
const uint32_t kDictionarySize = 1u << 24;
const size_t kHeaderSize = 13;

bool readFile(const char* path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The header xz's own LZMA-alone writer cannot give: it always states the size as unknown.
void writeHeader(std::vector<uint8_t>& out, uint64_t size) {
    out.push_back(kProperties);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(kDictionarySize >> (8 * i)));
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(size >> (8 * i)));
}

bool compress(const std::vector<uint8_t>& input, std::vector<uint8_t>& out) {
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME)) return false;
    options.dict_size = kDictionarySize;
    options.lc = 3;
    options.lp = 0;
    options.pb = 2;
    // LZMA1EXT with the size given: the encoder stops at exactly that size and writes no end
    // marker, as the header promises.
    options.ext_flags = 0;
    options.ext_size_low = static_cast<uint32_t>(input.size());
    options.ext_size_high = static_cast<uint32_t>(static_cast<uint64_t>(input.size()) >> 32);
    lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&stream, filters) != LZMA_OK) return false;
    writeHeader(out, input.size());
    return codeWhole(stream, input, out) == LZMA_STREAM_END;
}

bool writeAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string partial = path + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) return false;
    }
    return std::rename(partial.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: pack_module <input> <output> [truncated|corrupt]\n");
        return 2;
    }
    std::vector<uint8_t> input, packed;
    if (!readFile(argv[1], input)) {
        std::fprintf(stderr, "pack_module: cannot read %s\n", argv[1]);
        return 1;
    }
    if (!compress(input, packed)) {
        std::fprintf(stderr, "pack_module: liblzma could not compress %s\n", argv[1]);
        return 1;
    }
    if (argc == 4 && std::strcmp(argv[3], "truncated") == 0) {
        packed.resize(packed.size() / 2);
    } else if (argc == 4 && std::strcmp(argv[3], "corrupt") == 0) {
        // The range coder's first byte is always zero; a decoder refuses any other.
        packed[kHeaderSize] = 0xFF;
    } else if (argc == 4) {
        std::fprintf(stderr, "pack_module: unknown fixture kind %s\n", argv[3]);
        return 2;
    }
    if (!writeAtomically(argv[2], packed)) {
        std::fprintf(stderr, "pack_module: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
