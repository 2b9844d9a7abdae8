// Raw disk access against simulated disks.
#include "tool/service/sector_io.h"

#include "sim/machine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ReadOffsetCase {
    DWORD bytesPerSector;
    DWORD sector;
    ULONGLONG offset;
};

TEST(SectorIO, ReadsWholeSectorsAtSixtyFourBitOffsets) {
    const ReadOffsetCase cases[] = {
        {512, 0, 0},
        {512, 34, 17408},
        {512, 10000000, 5120000000ULL},  // beyond 32 bits
        {4096, 6, 24576},
        {2048, 0xFFFFFFFF, 0xFFFFFFFFULL * 2048},
    };
    for (const ReadOffsetCase& c : cases) {
        SimulatedMachine machine;
        SimDevice& disk = machine.addDevice(L"\\\\.\\PHYSICALDRIVE1");
        disk.bytesPerSector = c.bytesPerSector;
        disk.write(c.offset, "sector data");
        CSectorIO io;
        ASSERT_TRUE(io.open(L"\\\\.\\PHYSICALDRIVE1", GENERIC_READ));
        std::string buffer(c.bytesPerSector, 'x');
        ASSERT_TRUE(io.read(c.sector, 1, &buffer[0], c.bytesPerSector));
        EXPECT_EQ(buffer.substr(0, 11), "sector data");
        EXPECT_EQ(buffer.substr(11), std::string(c.bytesPerSector - 11, '\0'));
        ASSERT_EQ(disk.readOffsets.size(), 1u);
        EXPECT_EQ(disk.readOffsets[0], c.offset) << c.sector;
    }
}

TEST(SectorIO, SizeMismatchIsRefusedWithABoxAndNoRead) {
    SimulatedMachine machine;
    SimDevice& disk = machine.addDevice(L"\\\\.\\PHYSICALDRIVE1");
    disk.bytesPerSector = 4096;
    CSectorIO io;
    ASSERT_TRUE(io.open(L"\\\\.\\PHYSICALDRIVE1", GENERIC_READ));
    char buffer[512];
    EXPECT_FALSE(io.read(0, 1, buffer, sizeof(buffer)));
    EXPECT_TRUE(disk.readOffsets.empty());
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.messageBoxes[0].text, L"\x672A\x5BFE\x5FDC");
    EXPECT_EQ(machine.messageBoxes[0].caption, L"CSectorIO::read");
    EXPECT_EQ(machine.messageBoxes[0].owner, nullptr);
    EXPECT_EQ(machine.messageBoxes[0].flags, static_cast<UINT>(MB_SYSTEMMODAL | MB_OK));
}

TEST(SectorIO, ShortReadAtTheEndLeavesZeros) {
    SimulatedMachine machine;
    SimDevice& disk = machine.addDevice(L"\\\\.\\PHYSICALDRIVE1");
    disk.size = 1024 + 100;
    disk.write(1024, std::string(100, 'z'));
    CSectorIO io;
    ASSERT_TRUE(io.open(L"\\\\.\\PHYSICALDRIVE1", GENERIC_READ));
    std::string buffer(512, 'x');
    ASSERT_TRUE(io.read(2, 1, &buffer[0], 512));
    EXPECT_EQ(buffer, std::string(100, 'z') + std::string(412, '\0'));
}

TEST(SectorIO, OpenNeedsAnAnsweringGeometry) {
    SimulatedMachine machine;
    machine.addDevice(L"\\\\.\\PHYSICALDRIVE2").geometryAnswers = false;
    CSectorIO io;
    EXPECT_FALSE(io.open(L"\\\\.\\PHYSICALDRIVE2", GENERIC_READ));
    EXPECT_FALSE(io.open(L"\\\\.\\PHYSICALDRIVE9", GENERIC_READ)) << "no such disk";
    // An ordinary file opens, but it has no disk geometry.
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_FALSE(io.open(self, GENERIC_READ));
    EXPECT_EQ(machine.deviceOpens, 1);
}

TEST(SectorIO, LayoutAndDriverVersion) {
    SimulatedMachine machine;
    SimDevice& disk = machine.addDevice(L"\\\\.\\E:");
    disk.partitionStyle = PARTITION_STYLE_GPT;
    disk.driverAnswers = true;
    disk.driverVersion = 5;
    CSectorIO io;
    ASSERT_TRUE(io.open(L"\\\\.\\E:", GENERIC_READ));
    DriveLayout layout = io.getDriveLayout();
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->PartitionStyle, static_cast<DWORD>(PARTITION_STYLE_GPT));
    DWORD version = 0;
    EXPECT_TRUE(io.queryDriverVersion(&version));
    EXPECT_EQ(version, 5u);
    disk.layoutAnswers = false;
    disk.driverAnswers = false;
    EXPECT_FALSE(io.getDriveLayout());
    EXPECT_FALSE(io.queryDriverVersion(&version));
    EXPECT_TRUE(io.close());
    EXPECT_EQ(disk.flushes, 1);
    EXPECT_EQ(machine.openDeviceHandles, 0);
}

}  // namespace
