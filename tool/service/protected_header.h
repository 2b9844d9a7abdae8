// The protected-area header: where it lies on the disk, and how it is decrypted.
#pragma once
#include "common/message_code.h"
#include "platform/win.h"

#include <stddef.h>
#include <stdint.h>

#include <openssl/aes.h>

enum : MessageCode { MSG_DISK_INFO = 516 };

// Offsets of the header fields the tool reads.
enum : size_t {
    HEADER_SIGNATURE_OFFSET = 0,
    HEADER_AUTORUN_SUPPRESSED_OFFSET = 421,
    HEADER_AUTORUN_ENABLED_OFFSET = 422,
};

// The unit number every header is decrypted with, wherever it was read from.
enum : uint32_t { HEADER_CIPHER_UNIT = 3 };

struct SectorCipher {
    int32_t rounds;
    AES_KEY encryptSchedule;
    AES_KEY decryptSchedule;
    int32_t blocksPerUnit;
    int32_t counterShift;
};

MessageCode readProtectedAreaHeader(const wchar_t* devicePath, unsigned char* header);
BOOL isKnownHeaderSignature(uint32_t signature);
uint32_t headerSignature(const unsigned char* header);
// FALSE when the pass phrase does not fit the 32-byte key.
BOOL initSectorCipher(SectorCipher* cipher, const char* passPhrase, size_t length, uint32_t unitSize);
void decryptSector(unsigned char* unit, const SectorCipher& cipher, uint32_t unitNumber);
// The header's sector on a disk of this partition style and sector size.
DWORD headerSectorFor(DWORD partitionStyle, DWORD bytesPerSector);
