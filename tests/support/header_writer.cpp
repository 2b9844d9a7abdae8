#include "support/header_writer.h"

#include "tool/service/header_key.h"
#include "tool/service/protected_header.h"

#include <string.h>

std::string plainHeader(uint32_t signature, unsigned char autorunSuppressed, unsigned char autorunEnabled) {
    std::string header(512, '\0');
    for (size_t i = 4; i < header.size(); ++i) header[i] = static_cast<char>(i * 7 + 1);
    for (int i = 0; i < 4; ++i) header[i] = static_cast<char>(signature >> (8 * i));
    header[HEADER_AUTORUN_SUPPRESSED_OFFSET] = static_cast<char>(autorunSuppressed);
    header[HEADER_AUTORUN_ENABLED_OFFSET] = static_cast<char>(autorunEnabled);
    return header;
}

std::string encryptHeader(const std::string& plain, uint32_t unit) {
    SectorCipher cipher;
    initSectorCipher(&cipher, HEADER_PASS_PHRASE, strlen(HEADER_PASS_PHRASE), 512);
    std::string out = plain;
    uint32_t counter = unit << cipher.counterShift;
    for (int32_t block = 0; block < cipher.blocksPerUnit; ++block, ++counter) {
        unsigned char* p = reinterpret_cast<unsigned char*>(&out[block * 16]);
        for (int i = 0; i < 16; ++i) p[i] ^= static_cast<unsigned char>(counter >> (8 * (i % 4)));
        AES_encrypt(p, p, &cipher.encryptSchedule);
    }
    return out;
}
