// The tool's side of the service: every request byte for byte and every reply rule, against
// the service stand-in under Wine.
#include "tool/service/service_commands.h"
#include "tool/service/service_pipe.h"

#include "platform/system_calls.h"
#include "sim/machine.h"
#include "support/fake_service.h"
#include "support/header_writer.h"
#include "tool/service/protected_header.h"
#include "tool/shell/tool_state.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const std::string kHeader("\x01" "Lumagate" "\x1f" "V2" "\x1f" "\x02");
const std::string kEnd = kHeader + "END\x1f" "LumgatS\x1f\x03";
const wchar_t kDisk[] = L"\\\\.\\PHYSICALDRIVE1";

std::string request(const char* body) { return kHeader + body + "\x03"; }

class ServiceClient : public ::testing::Test {
protected:
    void SetUp() override { serviceAvailable = TRUE; }
    void TearDown() override { serviceAvailable = FALSE; }
};

struct RequestCase {
    const char* name;
    std::function<void()> send;
    std::string expected;
};

TEST_F(ServiceClient, EveryRequestByteForByte) {
    wchar_t name[PROCESS_NAME_CAPACITY];
    DWORD value = 0;
    char sector[512];
    const RequestCase cases[] = {
        {"GDN", [] { serviceGetDiskNumber(L"E: "); }, request("GDN\x1fLumgatS\x1f" "E: \x1f")},
        {"CPD", [&] { serviceFindProcessOnDrive(L"E: ", name); }, request("CPD\x1fLumgatS\x1f" "E: \x1f")},
        {"GPS", [&] { serviceGetPartitionStyle(kDisk, &value); }, request("GPS\x1fLumgatS\x1f\\\\.\\PHYSICALDRIVE1\x1f")},
        {"GSL", [&] { serviceGetSectorSize(kDisk, &value); }, request("GSL\x1fLumgatS\x1f\\\\.\\PHYSICALDRIVE1\x1f")},
        {"SRD", [&] { serviceReadSector(kDisk, 34, sector, sizeof(sector)); },
         request("SRD\x1fLumgatS\x1f\\\\.\\PHYSICALDRIVE1\x1f" "34\x1f" "512\x1f")},
        {"UDV", [] { serviceDeleteDriverService(L"lumagate664"); }, request("UDV\x1fLumgatS\x1flumagate664\x1f")},
        {"RD2", [] { serviceRemoveDiskDriver(L"USBSTOR\\DISK&VEN_X\\1&2", L"lumagate632"); },
         request("RD2\x1fLumgatS\x1fUSBSTOR\\DISK&VEN_X\\1&2\x1flumagate632\x1f")},
        {"ENA 0", [] { serviceEnableDevice(L"USB\\VID_1\\9", 0); }, request("ENA\x1fLumgatS\x1fUSB\\VID_1\\9\x1f" "0\x1f")},
        {"ENA 1", [] { serviceEnableDevice(L"USB\\VID_1\\9", 1); }, request("ENA\x1fLumgatS\x1fUSB\\VID_1\\9\x1f" "1\x1f")},
        {"FLS", [] { serviceFlushVolume(L"E: "); }, request("FLS\x1fLumgatS\x1f" "E: \x1f")},
    };
    EXPECT_EQ(kEnd.size(), 27u);
    for (const RequestCase& c : cases) {
        FakeService service(L"[service]\r\n");
        c.send();
        ASSERT_TRUE(service.waitForClose(1)) << c.name;
        EXPECT_EQ(service.requests(), (std::vector<std::string>{c.expected, kEnd})) << c.name;
    }
}

struct ReplyCase {
    const char* name;
    const wchar_t* udvSection;
    MessageCode expected;
    bool endSent;
};

std::wstring framedRaw(const std::string& bytes) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text = L"raw=";
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
        text += L' ';
    }
    return text + L"\r\n";
}

TEST_F(ServiceClient, RepliesAreJudgedStrictly) {
    std::string exactly1024 = kHeader + "UDV\x1fOK\x1f" + std::string(1024 - 14 - 7 - 2, 'x') + "\x1f\x03";
    EXPECT_EQ(exactly1024.size(), 1024u);
    std::string longer = kHeader + "UDV\x1fOK\x1f" + std::string(1100, 'x') + "\x1f\x03";
    const std::wstring raw1024 = framedRaw(exactly1024), rawLonger = framedRaw(longer);
    const std::wstring rawV1 = framedRaw("\x01Lumagate\x1fV1\x1f\x02UDV\x1fOK\x1f\x03");
    const std::wstring rawNoEtx = framedRaw(kHeader + "UDV\x1fOK\x1f");
    // A NUL ends a C string early: "OK\0..." must not read as "OK", nor "5\0..." as code 5.
    const std::wstring rawOkNul = framedRaw(kHeader + std::string("UDV\x1fOK\0\x9c\x1f\x03", 10));
    const std::wstring rawCodeNul = framedRaw(kHeader + std::string("UDV\x1fNG\x1f" "5\0" "20\x1f\x03", 13));
    const ReplyCase cases[] = {
        {"OK", L"status=OK\r\nfield2=999\r\n", MSG_OK, true},
        {"NG with a code", L"status=NG\r\nfield2=520\r\n", 520, true},
        {"NG with blanks and a sign", L"status=NG\r\nfield2=  -42x\r\n", -42, true},
        {"NG without digits", L"status=NG\r\nfield2=abc\r\n", 0, true},
        {"NG without field 2", L"status=NG\r\n", MSG_SERVICE_FAILED, true},
        {"NG that reads as success", L"status=NG\r\nfield2=501\r\n", MSG_SERVICE_FAILED, true},
        {"NG with a field 2 too long", L"status=NG\r\nfield2=1234567890\r\n", MSG_SERVICE_FAILED, true},
        {"lower-case ok", L"status=ok\r\n", MSG_SERVICE_FAILED, true},
        {"status too long", L"status=OKOKOKOKOK\r\n", MSG_SERVICE_FAILED, true},
        {"header V1", rawV1.c_str(), MSG_SERVICE_FAILED, false},
        {"no ETX", rawNoEtx.c_str(), MSG_SERVICE_FAILED, false},
        {"status OK with a NUL after it", rawOkNul.c_str(), MSG_SERVICE_FAILED, true},
        {"code with a NUL inside", rawCodeNul.c_str(), MSG_SERVICE_FAILED, true},
        {"exactly 1024 bytes", raw1024.c_str(), MSG_OK, true},
        {"longer than 1024", rawLonger.c_str(), MSG_SERVICE_FAILED, false},
        {"no reply", L"disconnect=1\r\n", MSG_SERVICE_FAILED, false},
    };
    for (const ReplyCase& c : cases) {
        FakeService service(std::wstring(L"[UDV]\r\n") + c.udvSection);
        EXPECT_EQ(serviceDeleteDriverService(L"lumagate664"), c.expected) << c.name;
        service.stop();
        std::vector<std::string> sent = service.requests();
        ASSERT_FALSE(sent.empty()) << c.name;
        EXPECT_EQ(sent.back() == kEnd, c.endSent) << c.name << ": END goes only after a whole reply";
    }
}

TEST_F(ServiceClient, DiskNumberAndProcessNameComeFromField2) {
    {
        FakeService service(L"[GDN]\r\nstatus=OK\r\nfield2=7\r\n");
        EXPECT_EQ(getDiskNumber(L"E: "), 7);
    }
    {
        FakeService service(L"[GDN]\r\nstatus=NG\r\nfield2=520\r\n");
        EXPECT_EQ(getDiskNumber(L"E: "), -1) << "the service's code is not a disk number";
    }
    {
        FakeService service(L"[GDN]\r\nstatus=OK\r\n");
        EXPECT_EQ(getDiskNumber(L"E: "), -1);
    }
    wchar_t name[PROCESS_NAME_CAPACITY];
    {
        FakeService service(L"[CPD]\r\nstatus=OK\r\nfield2=" + std::wstring(255, L'n') + L".exe\r\n");
        EXPECT_TRUE(findProcessOnDrive(L"E: ", name));
        EXPECT_EQ(std::wstring(name), std::wstring(255, L'n') + L".exe");
    }
    {
        FakeService service(L"[CPD]\r\nstatus=OK\r\nfield2=" + std::wstring(256, L'n') + L".exe\r\n");
        EXPECT_FALSE(findProcessOnDrive(L"E: ", name)) << "260 characters do not fit";
    }
    {
        FakeService service(L"[CPD]\r\nstatus=NG\r\nfield2=notepad.exe\r\n");
        EXPECT_FALSE(findProcessOnDrive(L"E: ", name));
    }
}

TEST_F(ServiceClient, SectionAnswersAndTheirAbsence) {
    SimulatedMachine machine;
    SimDevice& disk = machine.addDevice(kDisk);
    disk.partitionStyle = PARTITION_STYLE_MBR;
    disk.bytesPerSector = 4096;
    DWORD value = 0;
    {
        // A style the local form would refuse is the service's to give.
        FakeService service(L"[GPS]\r\ndword=2\r\n[GSL]\r\ndword=2048\r\n");
        EXPECT_TRUE(getPartitionStyle(kDisk, &value));
        EXPECT_EQ(value, 2u);
        EXPECT_TRUE(getSectorSize(kDisk, &value));
        EXPECT_EQ(value, 2048u);
        EXPECT_EQ(machine.deviceOpens, 0);
    }
    {
        FakeService service(L"[service]\r\ndword=0\r\nsector=0\r\n");
        EXPECT_TRUE(getPartitionStyle(kDisk, &value)) << "answered locally";
        EXPECT_EQ(value, static_cast<DWORD>(PARTITION_STYLE_MBR));
        char sector[512];
        EXPECT_EQ(readRawSector(kDisk, 3, sector, sizeof(sector)), MSG_SECTION_OPEN_FAILED);
        service.stop();
        EXPECT_TRUE(service.requests().empty()) << "nothing is sent without the section";
    }
    {
        FakeService service(L"[GSL]\r\ndword=0\r\n[SRD]\r\nstatus=NG\r\nfield2=520\r\n");
        EXPECT_TRUE(getSectorSize(kDisk, &value));
        EXPECT_EQ(value, 4096u) << "a sector size of 0 is no answer: the disk is asked";
        char sector[512];
        EXPECT_EQ(readRawSector(kDisk, 3, sector, sizeof(sector)), 520);
        EXPECT_EQ(readRawSector(kDisk, 3, sector, 511), MSG_BUFFER_TOO_SMALL);
    }
}

TEST_F(ServiceClient, FlushWithTheServiceAsksItAndNotifiesNobody) {
    SimulatedMachine machine;
    SimDevice& volume = machine.addDevice(L"\\\\.\\E: ");
    const std::string fls = request("FLS\x1fLumgatS\x1f" "E: \x1f");
    {
        FakeService service(L"[FLS]\r\nstatus=OK\r\n");
        EXPECT_TRUE(flushVolume(L"E: "));
        service.stop();
        EXPECT_EQ(service.requests(), (std::vector<std::string>{fls, kEnd}));
    }
    {
        FakeService service(L"[FLS]\r\nstatus=NG\r\nfield2=520\r\n");
        EXPECT_FALSE(flushVolume(L"E: "));
    }
    EXPECT_TRUE(machine.shellNotifications.empty());
    EXPECT_EQ(volume.locks, 0);
    EXPECT_TRUE(machine.sleeps.empty());
}

// The drive's Explorer windows are closed before anything else, with the service or without:
// a window left open keeps the volume busy and the eject would be refused. The pass over the
// desktop's windows asks the Windows version for each one; a probe window makes sure there is
// one to ask for.
std::vector<std::string> g_flushSteps;
SystemCalls g_simulatedCalls;

void step(const char* name) {
    if (g_flushSteps.empty() || g_flushSteps.back() != name) g_flushSteps.push_back(name);
}
BOOL WINAPI versionAsked(OSVERSIONINFOW* info) {
    step("windows");
    return g_simulatedCalls.getVersionExW(info);
}
DWORD WINAPI clockAskedByThePipe() {
    step("pipe");
    return g_simulatedCalls.getTickCount();
}
void WINAPI shellNotified(LONG event, UINT flags, LPCVOID item1, LPCVOID item2) {
    step("shell");
    g_simulatedCalls.shChangeNotify(event, flags, item1, item2);
}
HANDLE WINAPI volumeOpened(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                           DWORD flags, HANDLE templateFile) {
    step("volume");
    return g_simulatedCalls.createFileW(path, access, share, security, disposition, flags, templateFile);
}

struct FlushOrderCase {
    BOOL service;
    std::vector<std::string> steps;
};

TEST_F(ServiceClient, FlushClosesTheDrivesWindowsFirst) {
    WNDCLASSW probeClass = {};
    probeClass.lpfnWndProc = DefWindowProcW;
    probeClass.hInstance = GetModuleHandleW(nullptr);
    probeClass.lpszClassName = L"ParvaneFlushProbe";
    ASSERT_TRUE(RegisterClassW(&probeClass));
    HWND probe = CreateWindowExW(0, L"ParvaneFlushProbe", nullptr, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(probe, nullptr);
    const FlushOrderCase cases[] = {
        {TRUE, {"windows", "pipe"}},
        {FALSE, {"windows", "shell", "volume"}},
    };
    for (const FlushOrderCase& c : cases) {
        serviceAvailable = c.service;
        SimulatedMachine machine;
        machine.addDevice(L"\\\\.\\E: ");
        FakeService service(L"[FLS]\r\nstatus=OK\r\n");
        g_flushSteps.clear();
        g_simulatedCalls = g_systemCalls;
        g_systemCalls.getVersionExW = &versionAsked;
        g_systemCalls.getTickCount = &clockAskedByThePipe;
        g_systemCalls.shChangeNotify = &shellNotified;
        g_systemCalls.createFileW = &volumeOpened;
        EXPECT_TRUE(flushVolume(L"E: ")) << c.service;
        g_systemCalls = g_simulatedCalls;
        EXPECT_EQ(g_flushSteps, c.steps) << c.service;
    }
    DestroyWindow(probe);
    UnregisterClassW(L"ParvaneFlushProbe", GetModuleHandleW(nullptr));
}

struct HeaderCase {
    const char* name;
    const wchar_t* layout;
    const char* sectorAsked;
};

TEST_F(ServiceClient, HeaderThroughTheService) {
    const std::string plain = plainHeader(0x4A8B7C6F, 0, 1);
    TempFile stored(encryptHeader(plain, HEADER_CIPHER_UNIT));
    const HeaderCase cases[] = {
        {"MBR", L"[GPS]\r\ndword=0\r\n", "3"},
        {"GPT 512", L"[GPS]\r\ndword=1\r\n[GSL]\r\ndword=512\r\n", "34"},
        {"GPT 2048", L"[GPS]\r\ndword=1\r\n[GSL]\r\ndword=2048\r\n", "10"},
        {"GPT 4096", L"[GPS]\r\ndword=1\r\n[GSL]\r\ndword=4096\r\n", "6"},
    };
    for (const HeaderCase& c : cases) {
        FakeService service(std::wstring(c.layout) + L"[SRD]\r\nsector_file=" + stored.path() + L"\r\n");
        unsigned char header[512] = {};
        EXPECT_EQ(readProtectedAreaHeader(kDisk, header), MSG_OK) << c.name;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 512), plain) << c.name;
        service.stop();
        std::string read;
        for (const std::string& sent : service.requests())
            if (sent.compare(14, 3, "SRD") == 0) read = sent;
        EXPECT_NE(read.find(std::string("\x1f") + c.sectorAsked + "\x1f" "512\x1f"), std::string::npos) << c.name;
    }
}

}  // namespace
