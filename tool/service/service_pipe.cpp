#include "tool/service/service_pipe.h"

#include "common/bounded.h"
#include "common/product_contract.h"
#include "platform/owners.h"
#include "platform/system_calls.h"

#include <stdarg.h>
#include <stdint.h>
#include <string.h>

namespace {

const DWORD kBusyRetryMilliseconds = 100;
const DWORD kBusyGiveUpMilliseconds = 5000;

// Only the wide (%S) arguments come from outside the format literal; they must be printable
// ASCII to go over the pipe unchanged.
bool wideArgumentsArePrintable(const char* format, va_list args) {
    for (const char* p = format; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        while (*p >= '0' && *p <= '9') ++p;
        bool longArg = *p == 'l';
        if (longArg) ++p;
        switch (*p) {
        case 's': va_arg(args, const char*); break;
        case 'd': if (longArg) va_arg(args, long); else va_arg(args, int); break;
        case 'S': {
            const wchar_t* text = va_arg(args, const wchar_t*);
            for (; text && *text; ++text)
                if (*text < 0x20 || *text > 0x7E) return false;
            break;
        }
        case 0: return true;
        default: break;
        }
    }
    return true;
}

}  // namespace

BOOL CServicePipe::connect(const wchar_t* pipeName) {
    close();
    DWORD start = sys().getTickCount();
    for (;;) {
        // Identification only: the tool often runs elevated, and a server squatting on the
        // pipe name must not be able to act with its token.
        pipe_ = CreateFileW(pipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe_ != INVALID_HANDLE_VALUE) return TRUE;
        if (GetLastError() != ERROR_PIPE_BUSY) return FALSE;
        if (static_cast<DWORD>(sys().getTickCount() - start) > kBusyGiveUpMilliseconds) return FALSE;
        sys().sleep(kBusyRetryMilliseconds);
    }
}

BOOL CServicePipe::write(const char* bytes, size_t length) {
    if (pipe_ == INVALID_HANDLE_VALUE || length > 0xFFFFFFFFu) return FALSE;
    DWORD written = 0;
    if (!WriteFile(pipe_, bytes, static_cast<DWORD>(length), &written, nullptr)) return FALSE;
    return written == length;
}

BOOL CServicePipe::read(char* reply, size_t capacity) {
    replyLength_ = 0;
    if (pipe_ == INVALID_HANDLE_VALUE || capacity > 0xFFFFFFFFu) return FALSE;
    DWORD received = 0;
    if (!ReadFile(pipe_, reply, static_cast<DWORD>(capacity), &received, nullptr)) return FALSE;
    if (!isWholeServiceReply(reply, received)) return FALSE;
    replyLength_ = received;
    return TRUE;
}

void CServicePipe::close() {
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
    replyLength_ = 0;
}

BOOL sendEndRequest(CServicePipe& pipe) {
    char request[SERVICE_MESSAGE_CAPACITY];
    size_t length = formatServiceMessage(request, "%s" SERVICE_CMD_END "\x1f%S\x1f\x03", SERVICE_MESSAGE_HEADER,
                                         SERVICE_CLIENT_TAG);
    return length > 0 && pipe.write(request, length);
}

MessageCode serviceCommand(const char* request, size_t length) {
    if (length == 0) return MSG_SERVICE_FAILED;
    CServicePipe pipe;
    if (!pipe.connect(SERVICE_PIPE_NAME)) return MSG_SERVICE_FAILED;
    char reply[SERVICE_MESSAGE_CAPACITY];
    if (!pipe.write(request, length) || !pipe.read(reply, sizeof(reply)) || !sendEndRequest(pipe))
        return MSG_SERVICE_FAILED;
    return serviceReplyCode(reply, pipe.replyLength());
}

size_t formatServiceMessage(char* request, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list check;
    va_copy(check, args);
    bool printable = wideArgumentsArePrintable(format, check);
    va_end(check);
    size_t length = 0;
    if (printable) {
        // One unit more than a request may use, so that a request that does not fit shows.
        char scratch[SERVICE_MESSAGE_CAPACITY + 1];
        length = formatNarrowV(scratch, sizeof(scratch), format, args);
        if (length >= 1 && length < SERVICE_MESSAGE_CAPACITY) copyText(request, SERVICE_MESSAGE_CAPACITY, scratch);
        else length = 0;
    }
    va_end(args);
    if (length == 0) request[0] = 0;
    return length;
}

BOOL serviceExtentsMappingExists() {
    UniqueHandle mapping(OpenFileMappingW(FILE_MAP_WRITE, FALSE, SERVICE_SECTION_EXTENTS));
    return mapping.valid();
}

BOOL isServiceAvailable() {
    CServicePipe pipe;
    if (!pipe.connect(SERVICE_PIPE_NAME)) return FALSE;
    BOOL available = serviceExtentsMappingExists();
    sendEndRequest(pipe);
    pipe.close();
    return available;
}
