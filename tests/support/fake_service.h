// The product service's stand-in (tools/fake_service), as a test starts and reads it.
//
// Scenario (an INI file; sections and keys are checked, and a mistake ends the stand-in at once):
//   [service]            pipe=1           serve the pipe (0: no pipe at all)
//                        extents=1        create the section that marks the service
//                        dword=1          create the 4-byte DwordData section
//                        sector=1         create the 512-byte SectorRW section
//                        extents_readonly=0   1: the marking section may be mapped for reading
//                                         only, as for a user the service does not serve
//                        instances=255    most pipe instances at once (1..255; 255 = unlimited)
//   [GDN] [CPD] [GPS] [GSL] [SRD] [UDV] [RD2] [ENA] [FLS]   how one command is answered:
//                        status=OK        reply field 1
//                        field2=          reply field 2; without this key the reply has none
//                        raw=01 4C 75     the whole reply, byte for byte, instead of a built one
//                        delay_ms=0       wait before answering
//                        disconnect=1     close the connection instead of answering
//                        dword=           value (decimal, 0x hex, or negative) written to DwordData
//                        sector_file=     full path of a file whose first 512 bytes, zero-padded,
//                                         are written to SectorRW
//   Numbers are decimal or 0x hexadecimal; flags 0 or 1. Each character of status and field2 is
//   sent as one byte (U+0001 to U+00FF). raw= goes with neither status= nor field2=, and
//   disconnect=1 with none of the three. A command without a section, and any keyword that is
//   not one of these, is answered "OK" without field 2.
//
// Built reply: SOH "Lumagate" US "V2" US STX, the request's keyword, US, status, US,
// [field2, US,] ETX. The keyword is bytes 14..16 of the request. The section contents are
// written, after the delay, before the reply goes out. END gets no reply.
//
// Log (one line each, "\r\n" ended, written before the message is answered):
//   <connection> <hex>           a message up to and including its ETX
//   <connection> PARTIAL <hex>   bytes after the last ETX when the client closed
//   <connection> CLOSED          the client closed
// Connections count from 1 in the order they connect; hex is two upper-case digits a byte.
// A connection that the stand-in closes itself (disconnect=1, or at the stop) gets no CLOSED
// line, and bytes it received after the message it dropped are not logged.
#pragma once
#include "platform/owners.h"

#include <string>
#include <vector>

// A file in the temporary folder, deleted with the object.
class TempFile {
public:
    // The bytes as they are: fixture data such as a sector.
    explicit TempFile(const std::string& bytes);
    // UTF-16 with a byte-order mark, the form in which the profile reader takes any text.
    explicit TempFile(const std::wstring& text);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::wstring& path() const { return path_; }

private:
    void write(const void* data, size_t size);
    std::wstring path_;
};

class FakeService {
public:
    // Starts the stand-in with this scenario and waits until its pipe and sections exist. If it
    // does not get there, the test fails and the object stays usable, with nothing running.
    explicit FakeService(const std::wstring& scenarioIni);
    // Stops it as stop() does.
    ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    bool running() const;
    // Asks the stand-in to end and waits for it; afterwards its pipe and sections are gone and
    // the log is final. The test fails if it does not end cleanly. Returns the exit code (0).
    DWORD stop();

    struct Message {
        enum Kind { Request, Partial, Closed };
        int connection;
        std::string bytes;  // empty for Closed
        Kind kind = Request;
    };
    std::vector<Message> log() const;
    // The bytes of every whole message received, in the order they were logged.
    std::vector<std::string> requests() const;
    // The whole messages of each connection in turn. Each connection is logged from its own
    // thread, so across connections the log's order is not the order of the exchanges.
    std::vector<std::vector<std::string>> requestsByConnection() const;
    std::string logText() const;
    // Waits, bounded, until the stand-in has seen the client of this connection close, for
    // the lines written after a client's last message; false if it never came.
    bool waitForClose(int connection) const;

private:
    bool start();

    TempFile scenario_;
    TempFile log_;
    UniqueHandle ready_;
    UniqueHandle stop_;
    UniqueHandle job_;
    UniqueHandle process_;
    DWORD exitCode_ = 0;
};
