// Stand-in for the product's background service, for the tests and the demo. It serves the
// service's pipe and sections as a scenario file says and logs every byte that clients send,
// so that a test can check both what our client sent and how it takes each kind of answer.
//
//   fake_service.exe <scenario.ini> <log file> <ready event name> <stop event name>
//
// The scenario and log formats are described where the tests use them, in
// tests/support/fake_service.h. Exit codes: 0 stopped cleanly, 2 bad command line, 3 bad
// scenario, 4 log file, 5 events, 6 a section, 7 the pipe.
#include "common/product_contract.h"
#include "platform/owners.h"
#include "platform/win.h"

#include <sddl.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <memory>
#include <string>
#include <vector>

namespace {

enum ExitCode { kStopped = 0, kBadCommandLine = 2, kBadScenario = 3, kLogFailed = 4, kEventsFailed = 5,
                kSectionFailed = 6, kPipeFailed = 7 };

const DWORD kDwordSectionSize = 4;
const DWORD kSectorSectionSize = 512;
const DWORD kExtentsSectionSize = 4096;
const DWORD kPipeBufferSize = 4096;

int complain(int code, const char* what, const std::wstring& detail) {
    fprintf(stderr, "fake_service: %s: %ls (error %lu)\n", what, detail.c_str(), GetLastError());
    fflush(stderr);
    return code;
}

// ---------------------------------------------------------------------------------------------
// The scenario: read and checked once at start, so that a mistyped key or a missing fixture
// file ends the run before the test talks to it, instead of turning into a puzzling answer.

const char* const kKeywords[] = {SERVICE_CMD_GDN, SERVICE_CMD_CPD, SERVICE_CMD_GPS, SERVICE_CMD_GSL, SERVICE_CMD_SRD,
                                 SERVICE_CMD_UDV, SERVICE_CMD_RD2, SERVICE_CMD_ENA, SERVICE_CMD_FLS};
const size_t kKeywordCount = sizeof(kKeywords) / sizeof(kKeywords[0]);

struct Answer {
    std::string status = "OK";
    bool hasField2 = false;
    std::string field2;
    bool hasRaw = false;
    std::string raw;
    DWORD delayMs = 0;
    bool disconnect = false;
    bool hasDword = false;
    DWORD dword = 0;
    bool hasSector = false;
    std::string sector;  // always kSectorSectionSize bytes
};

struct Scenario {
    bool pipe = true;
    bool extents = true;
    bool dword = true;
    bool sector = true;
    bool extentsReadOnly = false;
    DWORD instances = PIPE_UNLIMITED_INSTANCES;
    Answer answers[kKeywordCount];
    Answer unconfigured;  // keywords without a section of their own, or not ours at all

    const Answer& answerFor(const std::string& keyword) const {
        for (size_t i = 0; i < kKeywordCount; ++i)
            if (keyword == kKeywords[i]) return answers[i];
        return unconfigured;
    }
};

class Profile {
public:
    explicit Profile(const std::wstring& path) : path_(path), buffer_(32768) {}

    // Section names (section null) or the key names of one section.
    std::vector<std::wstring> names(const wchar_t* section) {
        DWORD n = GetPrivateProfileStringW(section, nullptr, L"", buffer_.data(), static_cast<DWORD>(buffer_.size()),
                                           path_.c_str());
        std::vector<std::wstring> result;
        for (DWORD i = 0; i < n;) {
            std::wstring name(&buffer_[i]);
            if (name.empty()) break;
            i += static_cast<DWORD>(name.size()) + 1;
            result.push_back(name);
        }
        return result;
    }
    // False when the value does not fit the buffer, which only a runaway raw= can cause.
    bool value(const wchar_t* section, const wchar_t* key, std::wstring& out) {
        DWORD n = GetPrivateProfileStringW(section, key, L"", buffer_.data(), static_cast<DWORD>(buffer_.size()),
                                           path_.c_str());
        out.assign(buffer_.data(), n);
        return n + 1 < buffer_.size();
    }

private:
    std::wstring path_;
    std::vector<wchar_t> buffer_;
};

bool hasName(const std::vector<std::wstring>& names, const wchar_t* name) {
    for (const std::wstring& n : names)
        if (_wcsicmp(n.c_str(), name) == 0) return true;
    return false;
}

// Decimal, or hexadecimal after "0x"; a leading minus for the 32-bit value of dword=.
bool parseNumber(const std::wstring& text, long long low, long long high, long long& out) {
    const wchar_t* p = text.c_str();
    bool negative = *p == L'-';
    if (negative) ++p;
    int base = 10;
    if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) {
        base = 16;
        p += 2;
    }
    if (*p == 0) return false;
    long long value = 0;
    for (; *p; ++p) {
        int digit = iswdigit(*p) ? *p - L'0' : (base == 16 && iswxdigit(*p)) ? (towlower(*p) - L'a' + 10) : -1;
        if (digit < 0) return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFLL) return false;
    }
    out = negative ? -value : value;
    return out >= low && out <= high;
}

bool parseHexBytes(const std::wstring& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size();) {
        if (iswspace(text[i])) {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || !iswxdigit(text[i]) || !iswxdigit(text[i + 1])) return false;
        out.push_back(static_cast<char>(wcstoul(text.substr(i, 2).c_str(), nullptr, 16)));
        i += 2;
    }
    return true;
}

// Each character becomes one byte, so a test can put any byte but NUL into a field.
bool narrowField(const std::wstring& text, std::string& out) {
    out.clear();
    for (wchar_t c : text) {
        if (c == 0 || c > 0xFF) return false;
        out.push_back(static_cast<char>(c));
    }
    return true;
}

bool readSectorFile(const std::wstring& path, std::string& out) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    out.assign(kSectorSectionSize, '\0');
    DWORD read = 0;
    return ReadFile(file.get(), &out[0], kSectorSectionSize, &read, nullptr) != FALSE;
}

class ScenarioReader {
public:
    explicit ScenarioReader(const std::wstring& path) : profile_(path) {}

    bool read(Scenario& scenario) {
        for (const std::wstring& section : profile_.names(nullptr)) {
            if (_wcsicmp(section.c_str(), L"service") == 0) {
                if (!readService(scenario)) return false;
                continue;
            }
            size_t i = keywordIndex(section);
            if (i == kKeywordCount) return fail(L"unknown section", section);
            if (!readAnswer(section.c_str(), scenario.answers[i])) return false;
        }
        return true;
    }
    const std::wstring& problem() const { return problem_; }

private:
    static size_t keywordIndex(const std::wstring& section) {
        for (size_t i = 0; i < kKeywordCount; ++i) {
            std::wstring keyword(kKeywords[i], kKeywords[i] + strlen(kKeywords[i]));
            if (_wcsicmp(section.c_str(), keyword.c_str()) == 0) return i;
        }
        return kKeywordCount;
    }

    bool fail(const wchar_t* what, const std::wstring& where) {
        problem_ = std::wstring(what) + L": " + where;
        return false;
    }

    bool checkKeys(const wchar_t* section, const wchar_t* const* known, size_t count) {
        for (const std::wstring& key : profile_.names(section)) {
            bool found = false;
            for (size_t i = 0; i < count && !found; ++i) found = _wcsicmp(key.c_str(), known[i]) == 0;
            if (!found) return fail(L"unknown key", std::wstring(section) + L"/" + key);
        }
        return true;
    }

    bool number(const wchar_t* section, const wchar_t* key, long long low, long long high, long long& out) {
        std::wstring text;
        profile_.value(section, key, text);
        if (!parseNumber(text, low, high, out)) return fail(L"bad number", std::wstring(section) + L"/" + key);
        return true;
    }

    bool flag(const wchar_t* section, const std::vector<std::wstring>& keys, const wchar_t* key, bool& out) {
        if (!hasName(keys, key)) return true;
        long long v = 0;
        if (!number(section, key, 0, 1, v)) return false;
        out = v != 0;
        return true;
    }

    bool readService(Scenario& scenario) {
        static const wchar_t* const known[] = {L"pipe", L"extents", L"dword", L"sector", L"extents_readonly", L"instances"};
        const wchar_t* s = L"service";
        if (!checkKeys(s, known, 6)) return false;
        std::vector<std::wstring> keys = profile_.names(s);
        if (!flag(s, keys, L"pipe", scenario.pipe) || !flag(s, keys, L"extents", scenario.extents) ||
            !flag(s, keys, L"dword", scenario.dword) || !flag(s, keys, L"sector", scenario.sector) ||
            !flag(s, keys, L"extents_readonly", scenario.extentsReadOnly))
            return false;
        long long instances = 0;
        if (hasName(keys, L"instances")) {
            if (!number(s, L"instances", 1, PIPE_UNLIMITED_INSTANCES, instances)) return false;
            scenario.instances = static_cast<DWORD>(instances);
        }
        return true;
    }

    bool readTexts(const wchar_t* section, const std::vector<std::wstring>& keys, Answer& answer) {
        std::wstring text;
        if (hasName(keys, L"status")) {
            profile_.value(section, L"status", text);
            if (!narrowField(text, answer.status)) return fail(L"status is not 8-bit text", section);
        }
        answer.hasField2 = hasName(keys, L"field2");
        if (answer.hasField2) {
            profile_.value(section, L"field2", text);
            if (!narrowField(text, answer.field2)) return fail(L"field2 is not 8-bit text", section);
        }
        answer.hasRaw = hasName(keys, L"raw");
        if (answer.hasRaw) {
            if (!profile_.value(section, L"raw", text) || !parseHexBytes(text, answer.raw))
                return fail(L"raw is not a list of hex bytes", section);
        }
        return true;
    }

    bool readAnswer(const wchar_t* section, Answer& answer) {
        static const wchar_t* const known[] = {L"status", L"field2", L"raw", L"delay_ms", L"disconnect", L"dword",
                                               L"sector_file"};
        if (!checkKeys(section, known, 7)) return false;
        std::vector<std::wstring> keys = profile_.names(section);
        if (!readTexts(section, keys, answer) || !flag(section, keys, L"disconnect", answer.disconnect)) return false;
        bool builtReply = hasName(keys, L"status") || answer.hasField2;
        if (answer.hasRaw && builtReply) return fail(L"raw= replaces status= and field2=; give one or the other", section);
        if (answer.disconnect && (answer.hasRaw || builtReply)) return fail(L"disconnect=1 sends no reply", section);
        long long v = 0;
        if (hasName(keys, L"delay_ms")) {
            if (!number(section, L"delay_ms", 0, 600000, v)) return false;
            answer.delayMs = static_cast<DWORD>(v);
        }
        answer.hasDword = hasName(keys, L"dword");
        if (answer.hasDword) {
            if (!number(section, L"dword", -0x80000000LL, 0xFFFFFFFFLL, v)) return false;
            answer.dword = static_cast<DWORD>(v);
        }
        answer.hasSector = hasName(keys, L"sector_file");
        if (answer.hasSector) {
            std::wstring path;
            profile_.value(section, L"sector_file", path);
            if (!readSectorFile(path, answer.sector)) return fail(L"cannot read sector_file", path);
        }
        return true;
    }

    Profile profile_;
    std::wstring problem_;
};

// ---------------------------------------------------------------------------------------------
// The log: one line per message, written whole and flushed before the message is answered, so
// a client that has its reply can rely on the line being there.

class Log {
public:
    explicit Log(HANDLE file) : file_(file) { InitializeSRWLock(&lock_); }
    bool valid() const { return file_.valid(); }

    void message(int connection, const std::string& bytes) { write(connection, "", bytes); }
    void partial(int connection, const std::string& bytes) { write(connection, "PARTIAL ", bytes); }
    void closed(int connection) {
        std::string line = std::to_string(connection) + " CLOSED\r\n";
        append(line);
    }

private:
    void write(int connection, const char* tag, const std::string& bytes) {
        static const char digits[] = "0123456789ABCDEF";
        std::string line = std::to_string(connection) + " " + tag;
        for (unsigned char b : bytes) {
            line.push_back(digits[b >> 4]);
            line.push_back(digits[b & 15]);
        }
        line += "\r\n";
        append(line);
    }
    void append(const std::string& line) {
        AcquireSRWLockExclusive(&lock_);
        DWORD written = 0;
        WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        FlushFileBuffers(file_.get());
        ReleaseSRWLockExclusive(&lock_);
    }

    UniqueFile file_;
    SRWLOCK lock_;
};

// ---------------------------------------------------------------------------------------------
// The sections.

struct ViewTraits {
    typedef void* Type;
    static Type invalid() { return nullptr; }
    static bool isValid(Type v) { return v != nullptr; }
    static void close(Type v) { UnmapViewOfFile(v); }
};
typedef UniqueOwner<ViewTraits> UniqueView;

// One section of the paging file, with a writable view when the service fills it.
class Section {
public:
    bool create(const wchar_t* name, DWORD size, bool mapped) {
        section_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name));
        if (!section_) return false;
        // A section that is already there belongs to someone else, a forgotten stand-in or a
        // test's own; sharing it would mix their data into ours.
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            section_.reset();
            SetLastError(ERROR_ALREADY_EXISTS);
            return false;
        }
        if (mapped) view_.reset(MapViewOfFile(section_.get(), FILE_MAP_WRITE, 0, 0, size));
        return !mapped || view_.valid();
    }
    // Users may map it for reading but not for writing, as where the service runs locked down.
    bool denyWriting() {
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;0x0002;;;WD)(A;;GA;;;WD)", SDDL_REVISION_1,
                                                                  &sd, nullptr))
            return false;
        UniqueLocal owner(sd);
        return SetKernelObjectSecurity(section_.get(), DACL_SECURITY_INFORMATION, sd) != FALSE;
    }
    void fill(const void* data, size_t size) {
        if (view_) memcpy(view_.get(), data, size);
    }

private:
    UniqueHandle section_;  // declared first: the view goes before its section
    UniqueView view_;
};

struct Sections {
    Section extents;
    Section dword;
    Section sector;
};

int createSections(const Scenario& scenario, Sections& sections) {
    if (scenario.extents) {
        if (!sections.extents.create(SERVICE_SECTION_EXTENTS, kExtentsSectionSize, false))
            return complain(kSectionFailed, "cannot create", SERVICE_SECTION_EXTENTS);
        if (scenario.extentsReadOnly && !sections.extents.denyWriting())
            return complain(kSectionFailed, "cannot restrict", SERVICE_SECTION_EXTENTS);
    }
    if (scenario.dword && !sections.dword.create(SERVICE_SECTION_DWORD, kDwordSectionSize, true))
        return complain(kSectionFailed, "cannot create", SERVICE_SECTION_DWORD);
    if (scenario.sector && !sections.sector.create(SERVICE_SECTION_SECTOR, kSectorSectionSize, true))
        return complain(kSectionFailed, "cannot create", SERVICE_SECTION_SECTOR);
    return kStopped;
}

// ---------------------------------------------------------------------------------------------
// Connections.

// What every connection shares; complete before the first connection exists. Connections only
// write into the section views, and the log has its own lock.
struct Service {
    Scenario scenario;
    Sections sections;
    Log* log = nullptr;
    HANDLE stop = nullptr;
    HANDLE instanceFreed = nullptr;
};

// Runs one overlapped operation to its end. A stop (when given) cancels it, but a result that
// was already there is still taken, so a client that wrote and closed just before is not lost.
bool completeIo(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, HANDLE stop, DWORD& transferred) {
    if (!started && GetLastError() != ERROR_IO_PENDING) return false;
    HANDLE waits[2] = {overlapped.hEvent, stop};
    if (stop && WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) CancelIo(pipe);
    return GetOverlappedResult(pipe, &overlapped, &transferred, TRUE) != FALSE;
}

class Connection {
public:
    Connection(HANDLE pipe, int number, Service& service)
        : pipe_(pipe), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), number_(number), service_(service) {}

    void serve() {
        if (!event_) return;
        for (;;) {
            DWORD got = 0;
            if (!read(got, true)) {
                if (stopping()) finishAtStop();
                else clientClosed();  // the pipe broke: the client closed its end
                return;
            }
            pending_.append(buffer_, got);
            Outcome outcome = answerWholeMessages();
            if (outcome == Outcome::Dropped) return;
            if (outcome == Outcome::Stopped || stopping()) {
                finishAtStop();
                return;
            }
        }
    }

private:
    enum class Outcome { Going, Dropped, Stopped };

    bool stopping() const { return WaitForSingleObject(service_.stop, 0) == WAIT_OBJECT_0; }

    // One read of what the client sends; a stop ends the wait unless the read must not stop.
    bool read(DWORD& got, bool stoppable) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.get();
        BOOL started = ReadFile(pipe_.get(), buffer_, sizeof(buffer_), nullptr, &overlapped);
        return completeIo(pipe_.get(), overlapped, started, stoppable ? service_.stop : nullptr, got);
    }

    // At the stop, bytes the client sent and its closing may not have been seen yet. Both are
    // still logged, without answers, so that the log is complete once the stand-in has ended.
    void finishAtStop() {
        DWORD available = 0, got = 0;
        while (PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
               read(got, false)) {
            pending_.append(buffer_, got);
            for (std::string message; takeMessage(message);) service_.log->message(number_, message);
        }
        DWORD unused = 0;
        if (!PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &unused, nullptr) && GetLastError() == ERROR_BROKEN_PIPE)
            clientClosed();
    }

    void clientClosed() {
        if (!pending_.empty()) service_.log->partial(number_, pending_);
        service_.log->closed(number_);
    }

    bool takeMessage(std::string& message) {
        size_t end = pending_.find(SERVICE_MESSAGE_END);
        if (end == std::string::npos) return false;
        message = pending_.substr(0, end + 1);
        pending_.erase(0, end + 1);
        return true;
    }

    Outcome answerWholeMessages() {
        for (std::string message; takeMessage(message);) {
            service_.log->message(number_, message);
            Outcome outcome = answer(message);
            if (outcome != Outcome::Going) return outcome;
        }
        return Outcome::Going;
    }

    static std::string keywordOf(const std::string& message) {
        size_t bodyLength = message.size() - 1;  // without the ETX
        if (bodyLength <= SERVICE_MESSAGE_HEADER_LENGTH) return std::string();
        return message.substr(SERVICE_MESSAGE_HEADER_LENGTH, bodyLength - SERVICE_MESSAGE_HEADER_LENGTH).substr(0, 3);
    }

    Outcome answer(const std::string& message) {
        std::string keyword = keywordOf(message);
        if (keyword == SERVICE_CMD_END) return Outcome::Going;
        const Answer& a = service_.scenario.answerFor(keyword);
        if (a.delayMs && WaitForSingleObject(service_.stop, a.delayMs) == WAIT_OBJECT_0) return Outcome::Stopped;
        if (a.hasDword) service_.sections.dword.fill(&a.dword, sizeof(a.dword));
        if (a.hasSector) service_.sections.sector.fill(a.sector.data(), a.sector.size());
        if (a.disconnect) return Outcome::Dropped;
        // A reply that cannot go out means the client has gone; the next read tells.
        if (!send(a.hasRaw ? a.raw : builtReply(keyword, a)) && stopping()) return Outcome::Stopped;
        return Outcome::Going;
    }

    static std::string builtReply(const std::string& keyword, const Answer& a) {
        std::string reply = SERVICE_MESSAGE_HEADER;
        reply += keyword + SERVICE_UNIT_SEPARATOR + a.status + SERVICE_UNIT_SEPARATOR;
        if (a.hasField2) reply += a.field2 + SERVICE_UNIT_SEPARATOR;
        return reply + SERVICE_MESSAGE_END;
    }

    // One write, so that a client that reads once gets the reply whole.
    bool send(const std::string& reply) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.get();
        DWORD sent = 0;
        BOOL started = WriteFile(pipe_.get(), reply.data(), static_cast<DWORD>(reply.size()), nullptr, &overlapped);
        return completeIo(pipe_.get(), overlapped, started, service_.stop, sent) && sent == reply.size();
    }

    UniqueFile pipe_;
    UniqueHandle event_;
    int number_;
    Service& service_;
    std::string pending_;
    char buffer_[kPipeBufferSize];
};

struct ThreadStart {
    std::unique_ptr<Connection> connection;
    HANDLE instanceFreed;
};

DWORD WINAPI runConnection(void* parameter) {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
    start->connection->serve();
    start->connection.reset();
    // Only now is the instance closed, and may the listener make a new one.
    SetEvent(start->instanceFreed);
    return 0;
}

class ConnectionThreads {
public:
    ~ConnectionThreads() { joinAll(); }

    void start(HANDLE pipe, int number, Service& service) {
        pruneFinished();
        std::unique_ptr<ThreadStart> start(new ThreadStart{
            std::unique_ptr<Connection>(new Connection(pipe, number, service)), service.instanceFreed});
        UniqueHandle thread(CreateThread(nullptr, 0, &runConnection, start.get(), 0, nullptr));
        if (!thread) {
            complain(0, "cannot start a connection thread", std::to_wstring(number));
            return;
        }
        start.release();
        threads_.push_back(std::move(thread));
    }
    void joinAll() {
        for (UniqueHandle& t : threads_) WaitForSingleObject(t.get(), INFINITE);
        threads_.clear();
    }

private:
    void pruneFinished() {
        std::vector<UniqueHandle> running;
        for (UniqueHandle& t : threads_)
            if (WaitForSingleObject(t.get(), 0) == WAIT_TIMEOUT) running.push_back(std::move(t));
        threads_.swap(running);
    }

    std::vector<UniqueHandle> threads_;
};

// ---------------------------------------------------------------------------------------------
// The listener: one instance always waits for the next client while others are served.

enum class Accepted { Client, Stopped, Failed };

Accepted awaitClient(HANDLE instance, HANDLE event, HANDLE stop) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    if (ConnectNamedPipe(instance, &overlapped)) return Accepted::Client;
    DWORD error = GetLastError();
    // A client may come, and even go again, between the instance's creation and this call;
    // what it wrote can still be read.
    if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) return Accepted::Client;
    if (error != ERROR_IO_PENDING) return Accepted::Failed;
    DWORD unused = 0;
    if (completeIo(instance, overlapped, FALSE, stop, unused)) return Accepted::Client;
    return GetLastError() == ERROR_OPERATION_ABORTED ? Accepted::Stopped : Accepted::Failed;
}

HANDLE createInstance(DWORD instances, bool first) {
    DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    // Another server on the same name would take some of the clients meant for this one. Wine
    // does not refuse a "first" instance when there are others, so the name is looked up too.
    if (first) {
        if (WaitNamedPipeW(SERVICE_PIPE_NAME, 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
        openMode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
    }
    return CreateNamedPipeW(SERVICE_PIPE_NAME, openMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, instances,
                            kPipeBufferSize, kPipeBufferSize, 0, nullptr);
}

// Once the test relies on the service, a failure must not end it under the test's feet; it shows
// in the exit code when the test stops the stand-in.
int pipeFailed(const Service& service, bool beforeReady, const char* what) {
    int code = complain(kPipeFailed, what, SERVICE_PIPE_NAME);
    if (!beforeReady) WaitForSingleObject(service.stop, INFINITE);
    return code;
}

int servePipe(Service& service, HANDLE ready) {
    UniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!connected) return complain(kPipeFailed, "cannot create an event", L"");
    ConnectionThreads threads;
    int nextNumber = 1;
    for (bool first = true;; first = false) {
        UniqueFile instance(createInstance(service.scenario.instances, first));
        if (!instance && !first && GetLastError() == ERROR_PIPE_BUSY) {
            // Every allowed instance is taken: wait until a connection ends.
            HANDLE waits[2] = {service.stop, service.instanceFreed};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) return kStopped;
            continue;
        }
        if (!instance) return pipeFailed(service, first, "cannot create the pipe");
        if (first) SetEvent(ready);
        Accepted accepted = awaitClient(instance.get(), connected.get(), service.stop);
        if (accepted == Accepted::Stopped) return kStopped;
        if (accepted == Accepted::Failed) return pipeFailed(service, false, "cannot wait for a client");
        threads.start(instance.release(), nextNumber++, service);
    }
}

std::wstring fullPath(const wchar_t* path) {
    wchar_t full[MAX_PATH] = L"";
    DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? std::wstring(full) : std::wstring(path);
}

int run(wchar_t** args) {
    Service service;
    std::wstring scenarioPath = fullPath(args[1]);  // the profile reader wants a full path
    ScenarioReader reader(scenarioPath);
    if (GetFileAttributesW(scenarioPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        return complain(kBadScenario, "no scenario file", scenarioPath);
    if (!reader.read(service.scenario)) return complain(kBadScenario, "bad scenario", reader.problem());

    Log log(CreateFileW(args[2], FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!log.valid()) return complain(kLogFailed, "cannot open the log", args[2]);
    UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, args[3]));
    UniqueHandle stop(OpenEventW(SYNCHRONIZE, FALSE, args[4]));
    UniqueHandle instanceFreed(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!ready || !stop || !instanceFreed) return complain(kEventsFailed, "cannot open the events", args[3]);
    service.log = &log;
    service.stop = stop.get();
    service.instanceFreed = instanceFreed.get();

    int result = createSections(service.scenario, service.sections);
    if (result != kStopped) return result;
    if (service.scenario.pipe) return servePipe(service, ready.get());
    SetEvent(ready.get());
    WaitForSingleObject(stop.get(), INFINITE);
    return kStopped;
}

}  // namespace

int main() {
    int argc = 0;
    UniqueLocal args(CommandLineToArgvW(GetCommandLineW(), &argc));
    if (!args || argc != 5) {
        fprintf(stderr, "usage: fake_service <scenario.ini> <log file> <ready event> <stop event>\n");
        return kBadCommandLine;
    }
    return run(static_cast<wchar_t**>(args.get()));
}
