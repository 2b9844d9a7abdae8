// Reading and decrypting the protected-area header directly from simulated disks.
#include "tool/service/protected_header.h"

#include "sim/machine.h"
#include "support/header_writer.h"
#include "tool/service/header_key.h"
#include "tool/service/service_commands.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

namespace {

const wchar_t kDisk[] = L"\\\\.\\PHYSICALDRIVE1";
const uint32_t kSignature = 0x4A8B7C7F;

struct LocationCase {
    DWORD style;
    DWORD bytesPerSector;
    DWORD headerSector;
    int deviceOpens;  // the style query, the sector-size query (GPT only), the read
};

TEST(ProtectedHeader, FoundByPartitionStyleAndSectorSize) {
    const LocationCase cases[] = {
        {PARTITION_STYLE_MBR, 512, 3, 2},
        {PARTITION_STYLE_MBR, 4096, 3, 2},
        {PARTITION_STYLE_GPT, 512, 34, 3},
        {PARTITION_STYLE_GPT, 2048, 10, 3},
        {PARTITION_STYLE_GPT, 4096, 6, 3},
    };
    const std::string plain = plainHeader(kSignature, 0, 1);
    for (const LocationCase& c : cases) {
        SimulatedMachine machine;
        SimDevice& disk = machine.addDevice(kDisk);
        disk.partitionStyle = c.style;
        disk.bytesPerSector = c.bytesPerSector;
        // Whatever the sector, the header is written as unit 3; the rest of a large sector is noise.
        disk.write(ULONGLONG(c.headerSector) * c.bytesPerSector,
                   encryptHeader(plain, HEADER_CIPHER_UNIT) + std::string(c.bytesPerSector - 512, '\x77'));
        unsigned char header[512] = {};
        EXPECT_EQ(readProtectedAreaHeader(kDisk, header), MSG_OK);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 512), plain) << c.style << "/" << c.bytesPerSector;
        ASSERT_EQ(disk.readOffsets.size(), 1u);
        EXPECT_EQ(disk.readOffsets[0], ULONGLONG(c.headerSector) * c.bytesPerSector);
        EXPECT_EQ(machine.deviceOpens, c.deviceOpens);
    }
}

TEST(ProtectedHeader, DecryptionUsesUnitThreeOnly) {
    const std::string plain = plainHeader(kSignature, 0, 7);
    const std::string stored = encryptHeader(plain, HEADER_CIPHER_UNIT);
    SectorCipher cipher;
    ASSERT_TRUE(initSectorCipher(&cipher, HEADER_PASS_PHRASE, strlen(HEADER_PASS_PHRASE), 512));
    EXPECT_EQ(cipher.rounds, 14);
    EXPECT_EQ(cipher.blocksPerUnit, 32);
    EXPECT_EQ(cipher.counterShift, 5);
    std::string asUnit3 = stored, asUnit34 = stored;
    decryptSector(reinterpret_cast<unsigned char*>(&asUnit3[0]), cipher, 3);
    decryptSector(reinterpret_cast<unsigned char*>(&asUnit34[0]), cipher, 34);
    EXPECT_EQ(asUnit3, plain);
    EXPECT_NE(asUnit34, plain);
}

TEST(ProtectedHeader, PassPhraseLongerThanTheKeyIsRefused) {
    SectorCipher cipher;
    const std::string tooLong(33, 'k');
    EXPECT_FALSE(initSectorCipher(&cipher, tooLong.c_str(), tooLong.size(), 512));
    EXPECT_EQ(strlen(HEADER_PASS_PHRASE), 22u);
}

TEST(ProtectedHeader, OnlyTheThreeSignaturesAreKnown) {
    for (uint32_t known : {0x4A8B7C6Fu, 0x4A8B7C7Fu, 0x4A8B7C8Fu}) {
        EXPECT_TRUE(isKnownHeaderSignature(known));
        for (int bit = 0; bit < 32; ++bit) {
            uint32_t other = known ^ (1u << bit);
            if (other != 0x4A8B7C6F && other != 0x4A8B7C7F && other != 0x4A8B7C8F) {
                EXPECT_FALSE(isKnownHeaderSignature(other)) << std::hex << other;
            }
        }
    }
    EXPECT_FALSE(isKnownHeaderSignature(0));
}

struct FailureCase {
    const char* name;
    bool diskExists;
    bool layoutAnswers;
    DWORD style;
    DWORD bytesPerSector;
    MessageCode expected;
    bool readAttempted;
};

TEST(ProtectedHeader, FailuresAreReportedNotGuessed) {
    const FailureCase cases[] = {
        {"no disk", false, true, PARTITION_STYLE_MBR, 512, MSG_DISK_INFO, false},
        {"no layout", true, false, PARTITION_STYLE_MBR, 512, MSG_DISK_INFO, false},
        {"raw disk style", true, true, PARTITION_STYLE_RAW, 512, MSG_DISK_INFO, false},
        {"GPT, sector size 0", true, true, PARTITION_STYLE_GPT, 0, MSG_DISK_INFO, false},
        {"GPT, sector size 256", true, true, PARTITION_STYLE_GPT, 256, MSG_DISK_INFO, false},
        {"MBR, sector size 256", true, true, PARTITION_STYLE_MBR, 256, MSG_SECTOR_READ_FAILED, false},
    };
    for (const FailureCase& c : cases) {
        SimulatedMachine machine;
        if (c.diskExists) {
            SimDevice& disk = machine.addDevice(kDisk);
            disk.layoutAnswers = c.layoutAnswers;
            disk.partitionStyle = c.style;
            disk.bytesPerSector = c.bytesPerSector;
        }
        unsigned char header[512] = {};
        EXPECT_EQ(readProtectedAreaHeader(kDisk, header), c.expected) << c.name;
        if (c.diskExists) {
            EXPECT_EQ(!machine.devices[0].readOffsets.empty(), c.readAttempted) << c.name;
        }
    }
}

TEST(LocalSectorRead, ResultCodes) {
    SimulatedMachine machine;
    SimDevice& disk = machine.addDevice(kDisk);
    disk.bytesPerSector = 4096;
    disk.write(4096 * 5, std::string(600, 's'));
    std::string out(512, 'x');
    EXPECT_EQ(readRawSector(kDisk, 5, &out[0], 512), MSG_OK);
    EXPECT_EQ(out, std::string(512, 's')) << "the first 512 bytes of the sector";
    EXPECT_EQ(readRawSector(kDisk, 5, &out[0], 511), MSG_BUFFER_TOO_SMALL);
    EXPECT_EQ(readRawSector(L"\\\\.\\PHYSICALDRIVE7", 5, &out[0], 512), MSG_SECTOR_OPEN_FAILED);
}

}  // namespace
