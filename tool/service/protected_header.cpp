#include "tool/service/protected_header.h"

#include "tool/service/header_key.h"
#include "tool/service/service_commands.h"

#include <string.h>
#include <winioctl.h>

namespace {

const uint32_t kKnownSignatures[] = {0x4A8B7C6F, 0x4A8B7C7F, 0x4A8B7C8F};
const size_t kKeySize = 32;
const int kAesRounds = 14;
const DWORD kMbrHeaderSector = 3;
// GPT keeps its partition entries in the 16 KiB after sector 2; the header follows them.
const DWORD kGptEntriesBytes = 16384;
const DWORD kGptEntriesFirstSector = 2;

void xorLittleEndian32(unsigned char* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] ^= static_cast<unsigned char>(value >> (8 * i));
}

int32_t counterShiftFor(uint32_t unitSize) {
    int32_t halvings = 0;
    for (uint32_t size = unitSize; size != 0; size >>= 1) ++halvings;
    return halvings - 5;
}

}  // namespace

uint32_t headerSignature(const unsigned char* header) {
    const unsigned char* p = header + HEADER_SIGNATURE_OFFSET;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

BOOL isKnownHeaderSignature(uint32_t signature) {
    for (uint32_t known : kKnownSignatures)
        if (signature == known) return TRUE;
    return FALSE;
}

DWORD headerSectorFor(DWORD partitionStyle, DWORD bytesPerSector) {
    if (partitionStyle == PARTITION_STYLE_MBR) return kMbrHeaderSector;
    return kGptEntriesBytes / bytesPerSector + kGptEntriesFirstSector;
}

static_assert(sizeof(HEADER_PASS_PHRASE) - 1 == 22, "the header pass phrase has 22 characters");

BOOL initSectorCipher(SectorCipher* cipher, const char* passPhrase, size_t length, uint32_t unitSize) {
    // A context that was not built must decrypt nothing, not run on whatever the stack held.
    ZeroMemory(cipher, sizeof(*cipher));
    if (length > kKeySize) return FALSE;
    unsigned char key[kKeySize];
    memset(key, HEADER_KEY_FILLER, sizeof(key));
    memcpy(key, passPhrase, length);
    cipher->rounds = kAesRounds;
    BOOL ok = AES_set_encrypt_key(key, 256, &cipher->encryptSchedule) == 0 &&
              AES_set_decrypt_key(key, 256, &cipher->decryptSchedule) == 0;
    SecureZeroMemory(key, sizeof(key));
    cipher->blocksPerUnit = static_cast<int32_t>(unitSize / AES_BLOCK_SIZE);
    cipher->counterShift = counterShiftFor(unitSize);
    return ok;
}

void decryptSector(unsigned char* unit, const SectorCipher& cipher, uint32_t unitNumber) {
    if (cipher.blocksPerUnit <= 0) return;
    uint32_t counter = unitNumber << cipher.counterShift;
    for (int32_t block = 0; block < cipher.blocksPerUnit; ++block, ++counter) {
        unsigned char* p = unit + block * AES_BLOCK_SIZE;
        AES_decrypt(p, p, &cipher.decryptSchedule);
        for (int word = 0; word < 4; ++word) xorLittleEndian32(p + 4 * word, counter);
    }
}

MessageCode readProtectedAreaHeader(const wchar_t* devicePath, unsigned char* header) {
    DWORD style = 0;
    if (!getPartitionStyle(devicePath, &style)) return MSG_DISK_INFO;
    DWORD bytesPerSector = 0;
    if (style != PARTITION_STYLE_MBR && !getSectorSize(devicePath, &bytesPerSector)) return MSG_DISK_INFO;
    MessageCode read = readRawSector(devicePath, static_cast<LONG>(headerSectorFor(style, bytesPerSector)), header,
                                     HEADER_SIZE);
    if (read != MSG_OK) return read;
    SectorCipher cipher;
    if (!initSectorCipher(&cipher, HEADER_PASS_PHRASE, strlen(HEADER_PASS_PHRASE), HEADER_SIZE)) return MSG_DISK_INFO;
    decryptSector(header, cipher, HEADER_CIPHER_UNIT);
    SecureZeroMemory(&cipher, sizeof(cipher));
    return MSG_OK;
}
