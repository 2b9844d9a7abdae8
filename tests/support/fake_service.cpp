#include "support/fake_service.h"

#include "platform/win.h"

#include <gtest/gtest.h>

namespace {

const DWORD kStartWaitMs = 10000;
const DWORD kStopWaitMs = 10000;
const DWORD kCloseWaitMs = 10000;

std::wstring moduleFolder() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\'));
}

// The stand-in is built into tools\ beside the tests' folder (and beside the demo's driver).
std::wstring toolsFolder() {
    std::wstring relative = moduleFolder() + L"\\..\\tools";
    wchar_t full[MAX_PATH] = L"";
    DWORD n = GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? std::wstring(full) : relative;
}

std::wstring uniqueEventName(const wchar_t* role) {
    static LONG counter = 0;
    return L"ParvaneFakeService." + std::wstring(role) + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
           std::to_wstring(InterlockedIncrement(&counter)) + L"." + std::to_wstring(GetTickCount());
}

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

bool startProcess(const std::wstring& exe, const std::wstring& arguments, PROCESS_INFORMATION& pi) {
    std::wstring commandLine = quoted(exe) + L" " + arguments;
    std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
            return true;
        // Wine now and then refuses a start with this error; the second try goes through.
        if (GetLastError() != ERROR_INTERNAL_ERROR) break;
    }
    return false;
}

// A stand-in left behind by a test that crashed would hold the pipe and the sections for every
// later test: the job ends it with the test process.
HANDLE jobEndingWithUs() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    return job;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // the stand-in writes upper case only
}

bool decodeHex(const std::string& hex, std::string& bytes) {
    if (hex.empty() || hex.size() % 2) return false;
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = hexDigit(hex[i]), low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return true;
}

bool parseLine(const std::string& line, FakeService::Message& message) {
    size_t space = line.find(' ');
    if (space == std::string::npos || space == 0 || line.find_first_not_of("0123456789") != space) return false;
    message.connection = std::stoi(line.substr(0, space));
    std::string rest = line.substr(space + 1);
    message.bytes.clear();
    if (rest == "CLOSED") {
        message.kind = FakeService::Message::Closed;
        return true;
    }
    static const std::string partial = "PARTIAL ";
    message.kind = FakeService::Message::Request;
    if (rest.compare(0, partial.size(), partial) == 0) {
        message.kind = FakeService::Message::Partial;
        rest.erase(0, partial.size());
    }
    return decodeHex(rest, message.bytes);
}

}  // namespace

TempFile::TempFile(const std::string& bytes) { write(bytes.data(), bytes.size()); }

TempFile::TempFile(const std::wstring& text) {
    std::wstring withMark = L"\xFEFF" + text;
    write(withMark.data(), withMark.size() * sizeof(wchar_t));
}

TempFile::~TempFile() {
    if (!path_.empty()) DeleteFileW(path_.c_str());
}

void TempFile::write(const void* data, size_t size) {
    wchar_t folder[MAX_PATH] = L"";
    wchar_t path[MAX_PATH] = L"";
    if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"pfs", 0, path)) {
        ADD_FAILURE() << "cannot make a temporary file, error " << GetLastError();
        return;
    }
    path_ = path;
    UniqueFile file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) || written != size)
        ADD_FAILURE() << "cannot write a temporary file, error " << GetLastError();
}

FakeService::FakeService(const std::wstring& scenarioIni)
    : scenario_(scenarioIni), log_(std::string()) {
    if (!start()) {
        process_.reset();
        job_.reset();
    }
}

bool FakeService::start() {
    std::wstring readyName = uniqueEventName(L"ready"), stopName = uniqueEventName(L"stop");
    ready_.reset(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, stopName.c_str()));
    if (!ready_ || !stop_) {
        ADD_FAILURE() << "cannot create the stand-in's events, error " << GetLastError();
        return false;
    }
    std::wstring exe = toolsFolder() + L"\\fake_service.exe";
    PROCESS_INFORMATION pi{};
    if (!startProcess(exe, quoted(scenario_.path()) + L" " + quoted(log_.path()) + L" " + readyName + L" " + stopName,
                      pi)) {
        ADD_FAILURE() << "cannot start the service stand-in, error " << GetLastError();
        return false;
    }
    process_.reset(pi.hProcess);
    UniqueHandle thread(pi.hThread);
    job_.reset(jobEndingWithUs());
    if (job_) AssignProcessToJobObject(job_.get(), process_.get());

    HANDLE waits[2] = {ready_.get(), process_.get()};
    DWORD waited = WaitForMultipleObjects(2, waits, FALSE, kStartWaitMs);
    if (waited == WAIT_OBJECT_0) return true;
    if (waited == WAIT_OBJECT_0 + 1) {
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        ADD_FAILURE() << "the service stand-in ended with exit code " << code << " before it was ready";
    } else {
        ADD_FAILURE() << "the service stand-in did not get ready";
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), kStopWaitMs);
    }
    return false;
}

FakeService::~FakeService() { stop(); }

bool FakeService::running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

DWORD FakeService::stop() {
    if (!process_) return exitCode_;
    SetEvent(stop_.get());
    if (WaitForSingleObject(process_.get(), kStopWaitMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the service stand-in did not stop; it is ended";
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), kStopWaitMs);
        exitCode_ = STILL_ACTIVE;
    } else {
        GetExitCodeProcess(process_.get(), &exitCode_);
        if (exitCode_ != 0) ADD_FAILURE() << "the service stand-in ended with exit code " << exitCode_;
    }
    process_.reset();
    job_.reset();
    return exitCode_;
}

std::string FakeService::logText() const {
    UniqueFile file(CreateFileW(log_.path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    if (!file) return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
    return text;
}

std::vector<FakeService::Message> FakeService::log() const {
    std::vector<Message> messages;
    std::string text = logText();
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        // A line still being written has no end yet; it is read next time.
        if (end == std::string::npos) break;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Message message{};
        if (parseLine(line, message)) messages.push_back(message);
        else ADD_FAILURE() << "malformed line in the stand-in's log: " << line;
    }
    return messages;
}

std::vector<std::string> FakeService::requests() const {
    std::vector<std::string> result;
    for (const Message& m : log())
        if (m.kind == Message::Request) result.push_back(m.bytes);
    return result;
}

bool FakeService::waitForClose(int connection) const {
    DWORD start = GetTickCount();
    for (;;) {
        for (const Message& m : log())
            if (m.connection == connection && m.kind == Message::Closed) return true;
        if (GetTickCount() - start > kCloseWaitMs) return false;
        Sleep(20);
    }
}

std::vector<std::vector<std::string>> FakeService::requestsByConnection() const {
    std::vector<std::vector<std::string>> connections;
    for (const Message& m : log()) {
        if (m.kind != Message::Request || m.connection < 1) continue;
        if (connections.size() < static_cast<size_t>(m.connection)) connections.resize(static_cast<size_t>(m.connection));
        connections[static_cast<size_t>(m.connection) - 1].push_back(m.bytes);
    }
    return connections;
}
