// The service stand-in itself, seen from a plain pipe client: the other service tests trust
// what it answers and what it logs, so both are pinned down here byte for byte.
#include "support/fake_service.h"

#include "common/product_contract.h"
#include "platform/owners.h"
#include "platform/win.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

// Written out rather than taken from the contract header, so that a wrong header shows too.
const std::string kHeader("\x01" "Lumagate" "\x1f" "V2" "\x1f" "\x02");

std::string request(const char* keyword, const std::string& arguments = std::string()) {
    return kHeader + keyword + "\x1f" "LumgatS" "\x1f" + arguments + "\x03";
}

std::string pattern(size_t size, unsigned seed) {
    std::string bytes;
    for (size_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>((i * 37 + seed) & 0xFF));
    return bytes;
}

std::wstring spacedHex(const std::string& bytes) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
        text += L' ';
    }
    return text;
}

UniqueFile openPipe() {
    return UniqueFile(
        CreateFileW(SERVICE_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

// Bounded wait while every instance is taken, or the next one is not made yet.
UniqueFile openPipeWaiting() {
    DWORD start = GetTickCount();
    for (;;) {
        UniqueFile pipe = openPipe();
        DWORD error = GetLastError();
        if (pipe || (error != ERROR_PIPE_BUSY && error != ERROR_FILE_NOT_FOUND) || GetTickCount() - start > 10000)
            return pipe;
        Sleep(20);
    }
}

bool sendBytes(HANDLE pipe, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

struct Received {
    bool ok;
    std::string bytes;
    DWORD error;
};

// One read, as the product's client takes a reply. It waits, bounded, for the first byte, so
// that a reply that never comes fails the test instead of hanging it.
Received receive(HANDLE pipe) {
    DWORD available = 0, start = GetTickCount();
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available == 0) {
        if (GetTickCount() - start > 10000) return Received{false, "", WAIT_TIMEOUT};
        Sleep(10);
    }
    char buffer[4096];
    DWORD got = 0;
    Received r{};
    r.ok = ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) != FALSE;
    r.error = r.ok ? 0 : GetLastError();
    r.bytes.assign(buffer, got);
    return r;
}

// The product client's exchange without its END: connect, write, read once.
std::string exchange(const std::string& message) {
    UniqueFile pipe = openPipeWaiting();
    if (!pipe) return "<no connection: " + std::to_string(GetLastError()) + ">";
    if (!sendBytes(pipe.get(), message)) return "<not sent>";
    Received r = receive(pipe.get());
    return r.ok ? r.bytes : "<read failed: " + std::to_string(r.error) + ">";
}

struct ViewTraits {
    typedef void* Type;
    static Type invalid() { return nullptr; }
    static bool isValid(Type v) { return v != nullptr; }
    static void close(Type v) { UnmapViewOfFile(v); }
};

// A section as the product's client reads it: opened for reading, mapped whole.
class SectionView {
public:
    explicit SectionView(const wchar_t* name)
        : section_(OpenFileMappingW(FILE_MAP_READ, FALSE, name)),
          view_(section_ ? MapViewOfFile(section_.get(), FILE_MAP_READ, 0, 0, 0) : nullptr) {}
    bool valid() const { return view_.valid(); }
    DWORD dword() const {
        DWORD value = 0;
        memcpy(&value, view_.get(), sizeof(value));
        return value;
    }
    std::string bytes(size_t count) const { return std::string(static_cast<const char*>(view_.get()), count); }

private:
    UniqueHandle section_;
    UniqueOwner<ViewTraits> view_;
};

bool sectionExists(const wchar_t* name, DWORD access) {
    UniqueHandle section(OpenFileMappingW(access, FALSE, name));
    return section.valid();
}

TEST(FakeService, RepliesAsTheScenarioSays) {
    const std::string longReply = pattern(1100, 11);  // past the client's 1024 bytes, NUL and ETX included
    FakeService service(L"[GDN]\r\nfield2=3\r\n"
                        L"[FLS]\r\nstatus=NG\r\nfield2=520\r\n"
                        L"[ENA]\r\nstatus=\r\nfield2=\r\n"
                        L"[GSL]\r\ndelay_ms=50\r\n"
                        L"[CPD]\r\nfield2=name\x00e9.exe\r\n"
                        L"[RD2]\r\nraw=01 4C 75 6D\r\n"
                        L"[SRD]\r\nraw=" + spacedHex(longReply) + L"\r\n");
    ASSERT_TRUE(service.running());

    const struct {
        const char* keyword;
        std::string reply;
    } cases[] = {
        {SERVICE_CMD_GDN, kHeader + "GDN\x1f" "OK\x1f" "3\x1f" "\x03"},
        {SERVICE_CMD_FLS, kHeader + "FLS\x1f" "NG\x1f" "520\x1f" "\x03"},
        {SERVICE_CMD_UDV, kHeader + "UDV\x1f" "OK\x1f" "\x03"},  // no section: OK, no field 2
        {SERVICE_CMD_ENA, kHeader + "ENA\x1f" "\x1f" "\x1f" "\x03"},
        {SERVICE_CMD_GSL, kHeader + "GSL\x1f" "OK\x1f" "\x03"},
        {SERVICE_CMD_CPD, kHeader + "CPD\x1f" "OK\x1f" "name\xe9.exe\x1f" "\x03"},
        {SERVICE_CMD_RD2, std::string("\x01\x4c\x75\x6d")},
        {SERVICE_CMD_SRD, longReply},
    };
    std::vector<std::string> sent;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keyword);
        std::string message = request(c.keyword, "E: \x1f");
        EXPECT_EQ(exchange(message), c.reply);
        sent.push_back(message);
    }
    EXPECT_EQ(service.requests(), sent);
}

TEST(FakeService, SectionsHoldTheConfiguredDataOnceTheReplyIsThere) {
    const struct {
        size_t sectorFileSize;
        const wchar_t* dwordText;
        DWORD dword;
    } cases[] = {
        {300, L"0x12345678", 0x12345678u},  // short file: the rest of the sector is zero
        {600, L"-2", 0xFFFFFFFEu},          // long file: its first 512 bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sectorFileSize);
        std::string sector = pattern(c.sectorFileSize, 5);
        TempFile sectorFile(sector);
        FakeService service(std::wstring(L"[GPS]\r\ndword=") + c.dwordText + L"\r\n[GSL]\r\ndword=512\r\n" +
                            L"[SRD]\r\nsector_file=" + sectorFile.path() + L"\r\n");
        SectionView dword(SERVICE_SECTION_DWORD);
        SectionView sectorView(SERVICE_SECTION_SECTOR);
        ASSERT_TRUE(dword.valid() && sectorView.valid()) << GetLastError();
        EXPECT_EQ(sectorView.bytes(512), std::string(512, '\0'));

        EXPECT_EQ(exchange(request(SERVICE_CMD_GPS, "\\\\.\\PHYSICALDRIVE1\x1f")), kHeader + "GPS\x1f" "OK\x1f" "\x03");
        EXPECT_EQ(dword.dword(), c.dword);
        EXPECT_EQ(exchange(request(SERVICE_CMD_GSL, "\\\\.\\PHYSICALDRIVE1\x1f")), kHeader + "GSL\x1f" "OK\x1f" "\x03");
        EXPECT_EQ(dword.dword(), 512u);
        EXPECT_EQ(exchange(request(SERVICE_CMD_SRD, "\\\\.\\PHYSICALDRIVE1\x1f" "0\x1f" "512\x1f")),
                  kHeader + "SRD\x1f" "OK\x1f" "\x03");
        sector.resize(512, '\0');
        EXPECT_EQ(sectorView.bytes(512), sector);
    }
}

TEST(FakeService, PipeAndSectionsExistAsTheScenarioSaysAndGoWithIt) {
    enum Extents { Absent, ReadOnly, Writable };
    const struct {
        const wchar_t* scenario;
        bool pipe;
        Extents extents;
        bool dword;
        bool sector;
    } cases[] = {
        {L"", true, Writable, true, true},
        {L"[service]\r\nextents=0\r\n", true, Absent, true, true},
        {L"[service]\r\ndword=0\r\nsector=0\r\n", true, Writable, false, false},
        {L"[service]\r\npipe=0\r\n", false, Writable, true, true},
        {L"[service]\r\nextents_readonly=1\r\n", true, ReadOnly, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "scenario: " << std::string(c.scenario, c.scenario + wcslen(c.scenario)));
        FakeService service(c.scenario);
        ASSERT_TRUE(service.running());
        EXPECT_EQ(openPipe().valid(), c.pipe) << GetLastError();
        EXPECT_EQ(sectionExists(SERVICE_SECTION_EXTENTS, FILE_MAP_WRITE), c.extents == Writable);
        EXPECT_EQ(sectionExists(SERVICE_SECTION_EXTENTS, FILE_MAP_READ), c.extents != Absent);
        EXPECT_EQ(sectionExists(SERVICE_SECTION_DWORD, FILE_MAP_READ), c.dword);
        EXPECT_EQ(sectionExists(SERVICE_SECTION_SECTOR, FILE_MAP_READ), c.sector);

        service.stop();
        EXPECT_FALSE(openPipe().valid());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_FALSE(sectionExists(SERVICE_SECTION_EXTENTS, FILE_MAP_READ));
        EXPECT_FALSE(sectionExists(SERVICE_SECTION_DWORD, FILE_MAP_READ));
        EXPECT_FALSE(sectionExists(SERVICE_SECTION_SECTOR, FILE_MAP_READ));
    }
}

TEST(FakeService, EndGetsNoReplyAndDisconnectClosesWithoutOne) {
    FakeService service(L"[GDN]\r\nfield2=7\r\n[FLS]\r\ndisconnect=1\r\n");
    const std::string end = request(SERVICE_CMD_END);
    const std::string gdn = request(SERVICE_CMD_GDN, "E: \x1f");
    const std::string fls = request(SERVICE_CMD_FLS, "E: \x1f");

    UniqueFile pipe = openPipeWaiting();
    ASSERT_TRUE(pipe.valid()) << GetLastError();
    ASSERT_TRUE(sendBytes(pipe.get(), end));
    ASSERT_TRUE(sendBytes(pipe.get(), gdn));
    // Had END been answered, that answer would come first.
    EXPECT_EQ(receive(pipe.get()).bytes, kHeader + "GDN\x1f" "OK\x1f" "7\x1f" "\x03");

    UniqueFile dropped = openPipeWaiting();
    ASSERT_TRUE(dropped.valid()) << GetLastError();
    ASSERT_TRUE(sendBytes(dropped.get(), fls));
    Received r = receive(dropped.get());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.bytes, "");
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_BROKEN_PIPE));

    EXPECT_EQ(service.requests(), (std::vector<std::string>{end, gdn, fls}));
}

TEST(FakeService, LogsEveryByteInOrderWithConnectionNumbers) {
    FakeService service(L"[GDN]\r\nfield2=1\r\n[CPD]\r\nfield2=x.exe\r\n");
    const std::string gdn = request(SERVICE_CMD_GDN, "E: \x1f");
    const std::string cpd = request(SERVICE_CMD_CPD, std::string("E:\x00\xff\x1f", 5));
    const std::string gdnReply = kHeader + "GDN\x1f" "OK\x1f" "1\x1f" "\x03";
    const std::string cpdReply = kHeader + "CPD\x1f" "OK\x1f" "x.exe\x1f" "\x03";
    const std::string tail = kHeader + "GDN";
    const std::string end = request(SERVICE_CMD_END);

    UniqueFile first = openPipeWaiting();   // connection 1
    UniqueFile second = openPipeWaiting();  // connection 2, served alongside
    ASSERT_TRUE(first.valid() && second.valid()) << GetLastError();

    ASSERT_TRUE(sendBytes(second.get(), gdn));
    EXPECT_EQ(receive(second.get()).bytes, gdnReply);
    // One message split over two writes, the second write ending with a whole second message.
    ASSERT_TRUE(sendBytes(first.get(), cpd.substr(0, 10)));
    ASSERT_TRUE(sendBytes(first.get(), cpd.substr(10) + gdn));
    std::string replies;
    for (Received r{true, "", 0}; r.ok && replies.size() < cpdReply.size() + gdnReply.size();) {
        r = receive(first.get());
        replies += r.bytes;
    }
    EXPECT_EQ(replies, cpdReply + gdnReply);
    ASSERT_TRUE(sendBytes(first.get(), tail));
    first.reset();
    ASSERT_TRUE(service.waitForClose(1));
    ASSERT_TRUE(sendBytes(second.get(), end));
    second.reset();
    ASSERT_TRUE(service.waitForClose(2));

    typedef FakeService::Message M;
    const M expected[] = {
        {2, gdn, M::Request}, {1, cpd, M::Request}, {1, gdn, M::Request},  {1, tail, M::Partial},
        {1, "", M::Closed},   {2, end, M::Request}, {2, "", M::Closed},
    };
    std::vector<M> log = service.log();
    ASSERT_EQ(log.size(), sizeof(expected) / sizeof(expected[0]));
    for (size_t i = 0; i < log.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(log[i].connection, expected[i].connection);
        EXPECT_EQ(log[i].kind, expected[i].kind);
        EXPECT_EQ(log[i].bytes, expected[i].bytes);
    }
    // The lines themselves, as other tools may read them.
    std::string text = service.logText();
    EXPECT_NE(text.find("\r\n1 PARTIAL 014C756D61676174651F56321F0247444E\r\n1 CLOSED\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n2 014C756D61676174651F56321F02454E441F4C756D676174531F03\r\n2 CLOSED\r\n"),
              std::string::npos)
        << text;
}

TEST(FakeService, InstanceLimitKeepsFurtherClientsBusyAndStopEndsOpenConnections) {
    FakeService service(L"[service]\r\ninstances=1\r\n[GDN]\r\nfield2=1\r\n");
    const std::string gdn = request(SERVICE_CMD_GDN, "E: \x1f");
    const std::string gdnReply = kHeader + "GDN\x1f" "OK\x1f" "1\x1f" "\x03";

    UniqueFile first = openPipe();
    ASSERT_TRUE(first.valid()) << GetLastError();
    // Once the first client has its answer, an unlimited stand-in would long have made the next
    // instance.
    ASSERT_TRUE(sendBytes(first.get(), gdn));
    EXPECT_EQ(receive(first.get()).bytes, gdnReply);
    UniqueFile refused = openPipe();
    EXPECT_FALSE(refused.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    first.reset();

    UniqueFile second = openPipeWaiting();
    ASSERT_TRUE(second.valid()) << GetLastError();
    ASSERT_TRUE(sendBytes(second.get(), gdn));
    EXPECT_EQ(receive(second.get()).bytes, gdnReply);

    // The client is still connected: the stand-in must end anyway, and cleanly.
    EXPECT_EQ(service.stop(), 0u);
    Received r = receive(second.get());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.bytes, "");
    std::vector<FakeService::Message> log = service.log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.front().connection, 1);
    EXPECT_EQ(log.back().connection, 2);
    EXPECT_EQ(service.requests(), (std::vector<std::string>{gdn, gdn}));
}

TEST(FakeService, BrokenScenarioOrTakenNameFailsTheTest) {
    enum Taken { Nothing, DwordSection, Pipe };
    const struct {
        const wchar_t* scenario;
        Taken taken;
        const char* failure;
    } cases[] = {
        {L"[GDN]\r\nraw=0G\r\n", Nothing, "exit code 3"},
        {L"[GDN]\r\nfeild2=3\r\n", Nothing, "exit code 3"},
        {L"[GDM]\r\nfield2=3\r\n", Nothing, "exit code 3"},
        {L"[GDN]\r\nstatus=OK\r\nraw=01\r\n", Nothing, "exit code 3"},
        {L"[SRD]\r\nsector_file=C:\\parvane-no-such-file.bin\r\n", Nothing, "exit code 3"},
        {L"[service]\r\ninstances=0\r\n", Nothing, "exit code 3"},
        {L"", DwordSection, "exit code 6"},
        {L"", Pipe, "exit code 7"},
    };
    for (const auto& c : cases) {
        // Not the expected text: a trace is part of every failure message and would match it.
        SCOPED_TRACE(&c - cases);
        UniqueHandle section(c.taken == DwordSection ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                                                          0, 4, SERVICE_SECTION_DWORD)
                                                     : nullptr);
        UniqueFile pipe(c.taken == Pipe ? CreateNamedPipeW(SERVICE_PIPE_NAME, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                                           PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr)
                                        : INVALID_HANDLE_VALUE);
        EXPECT_NONFATAL_FAILURE(FakeService service(c.scenario), c.failure);
    }
}

}  // namespace
