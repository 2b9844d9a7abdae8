#include "tool/service/service_pipe.h"

#include "common/product_contract.h"
#include "platform/owners.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

const std::string kEndRequest("\x01Lumagate\x1fV2\x1f\x02" "END\x1fLumgatS\x1f\x03", 27);

// One instance of the service's pipe: it accepts one client and keeps what that client sent.
// The connection is awaited before the client runs, so a client that writes and leaves at
// once is still heard.
class PipeServer {
public:
    PipeServer()
        : pipe_(CreateNamedPipeW(SERVICE_PIPE_NAME, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr)),
          event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~PipeServer() {
        if (thread_.joinable()) thread_.join();
    }
    bool valid() const { return pipe_.valid(); }
    void serveOneClient() {
        OVERLAPPED connect{};
        connect.hEvent = event_.get();
        bool pending = !ConnectNamedPipe(pipe_.get(), &connect) && GetLastError() == ERROR_IO_PENDING;
        thread_ = std::thread([this, connect, pending]() mutable {
            DWORD n = 0;
            if (pending && !GetOverlappedResult(pipe_.get(), &connect, &n, TRUE)) return;
            char buffer[2048];
            for (;;) {
                OVERLAPPED read{};
                read.hEvent = event_.get();
                ResetEvent(event_.get());
                if (!ReadFile(pipe_.get(), buffer, sizeof(buffer), &n, &read) &&
                    !(GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(pipe_.get(), &read, &n, TRUE)))
                    return;
                if (n == 0) return;
                received_.append(buffer, n);
            }
        });
    }
    const std::string& received() {
        if (thread_.joinable()) thread_.join();
        return received_;
    }
    HANDLE handle() const { return pipe_.get(); }

private:
    UniqueFile pipe_;
    UniqueHandle event_;
    std::thread thread_;
    std::string received_;
};

TEST(ServiceProbe, NoPipeMeansNoServiceAndNoWait) {
    SimulatedMachine machine;
    EXPECT_FALSE(isServiceAvailable());
    EXPECT_TRUE(machine.sleeps.empty());
}

TEST(ServiceProbe, PipeWithoutSectionSendsEndAndSaysNo) {
    SimulatedMachine machine;
    PipeServer server;
    ASSERT_TRUE(server.valid());
    server.serveOneClient();
    EXPECT_FALSE(isServiceAvailable());
    EXPECT_EQ(server.received(), kEndRequest);
}

TEST(ServiceProbe, PipeAndWritableSectionMeanAvailable) {
    SimulatedMachine machine;
    UniqueHandle section(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                            SERVICE_SECTION_EXTENTS));
    ASSERT_TRUE(section.valid()) << GetLastError();
    PipeServer server;
    ASSERT_TRUE(server.valid());
    server.serveOneClient();
    EXPECT_TRUE(isServiceAvailable());
    EXPECT_EQ(server.received(), kEndRequest);
}

TEST(ServiceProbe, BusyPipeIsRetriedEvery100msForFiveSeconds) {
    SimulatedMachine machine;
    PipeServer server;
    ASSERT_TRUE(server.valid());
    server.serveOneClient();
    // The only instance is taken by another client for the whole test.
    UniqueFile other(CreateFileW(SERVICE_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(other.valid()) << GetLastError();

    EXPECT_FALSE(isServiceAvailable());
    // Attempts at 0, 100, ... 5100 ms: the one that finds more than 5000 ms gone gives up.
    ASSERT_EQ(machine.sleeps.size(), 51u);
    for (DWORD s : machine.sleeps) EXPECT_EQ(s, 100u);
    EXPECT_EQ(machine.now - 1000, 5100u);
    other.reset();
    EXPECT_EQ(server.received(), "") << "a probe that never connected sent nothing";
}

TEST(ServiceRequests, TextArgumentsMustBePrintableAscii) {
    char request[SERVICE_MESSAGE_CAPACITY];
    EXPECT_EQ(formatServiceMessage(request, "%s" "END\x1f%S\x1f\x03", SERVICE_MESSAGE_HEADER, SERVICE_CLIENT_TAG), 27u);
    EXPECT_EQ(std::string(request), kEndRequest);
    EXPECT_EQ(formatServiceMessage(request, "%sGDN\x1f%S\x1f%S\x1f\x03", SERVICE_MESSAGE_HEADER, SERVICE_CLIENT_TAG, L"E:\x7f"), 0u);
    EXPECT_EQ(formatServiceMessage(request, "%sGDN\x1f%S\x1f%S\x1f\x03", SERVICE_MESSAGE_HEADER, SERVICE_CLIENT_TAG, L"E\x1f "), 0u);
    EXPECT_EQ(formatServiceMessage(request, "%sGDN\x1f%S\x1f%S\x1f\x03", SERVICE_MESSAGE_HEADER, SERVICE_CLIENT_TAG, L"\x00e9:"), 0u);
    EXPECT_EQ(request[0], 0);
    std::wstring tooLong(1020, L'a');
    EXPECT_EQ(formatServiceMessage(request, "%sGDN\x1f%S\x1f%S\x1f\x03", SERVICE_MESSAGE_HEADER, SERVICE_CLIENT_TAG, tooLong.c_str()), 0u);
}

}  // namespace
