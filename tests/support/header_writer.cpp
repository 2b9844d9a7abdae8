#include "support/header_writer.h"

#include "tool/service/header_key.h"
#include "tool/service/protected_header.h"

#include <string.h>

namespace {

// The key as the product's headers are made: the pass phrase's 22 bytes, then the filler up to
// 32. Built here on its own, so that a fault in the tool's key building cannot hide itself.
void productHeaderKey(unsigned char (&key)[32]) {
    const char passPhrase[] = HEADER_PASS_PHRASE;
    static_assert(sizeof(passPhrase) - 1 == 22, "22 characters");
    for (size_t i = 0; i < 32; ++i)
        key[i] = i < 22 ? static_cast<unsigned char>(passPhrase[i]) : static_cast<unsigned char>(HEADER_KEY_FILLER);
}

}  // namespace

std::string plainHeader(uint32_t signature, unsigned char autorunSuppressed, unsigned char autorunEnabled) {
    std::string header(512, '\0');
    for (size_t i = 4; i < header.size(); ++i) header[i] = static_cast<char>(i * 7 + 1);
    for (int i = 0; i < 4; ++i) header[i] = static_cast<char>(signature >> (8 * i));
    header[HEADER_AUTORUN_SUPPRESSED_OFFSET] = static_cast<char>(autorunSuppressed);
    header[HEADER_AUTORUN_ENABLED_OFFSET] = static_cast<char>(autorunEnabled);
    return header;
}

std::string encryptHeader(const std::string& plain, uint32_t unit) {
    unsigned char key[32];
    productHeaderKey(key);
    AES_KEY schedule;
    AES_set_encrypt_key(key, 256, &schedule);
    std::string out = plain;
    // 512-byte units of 32 blocks: the first block of unit u is block 32u of the disk.
    uint32_t counter = unit * 32;
    for (size_t block = 0; block < 32; ++block, ++counter) {
        unsigned char* p = reinterpret_cast<unsigned char*>(&out[block * 16]);
        for (int i = 0; i < 16; ++i) p[i] ^= static_cast<unsigned char>(counter >> (8 * (i % 4)));
        AES_encrypt(p, p, &schedule);
    }
    return out;
}
