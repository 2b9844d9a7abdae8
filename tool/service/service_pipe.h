// The client side of one exchange with the product's service over its named pipe.
#pragma once
#include "common/message_code.h"
#include "platform/win.h"

#include <stddef.h>

enum : size_t {
    SERVICE_MESSAGE_CAPACITY = 1024,
    SERVICE_STATUS_FIELD_SIZE = 10,
};

enum : MessageCode { MSG_SERVICE_FAILED = 786 };

class CServicePipe {
public:
    CServicePipe() : pipe_(INVALID_HANDLE_VALUE) {}
    ~CServicePipe() { close(); }
    CServicePipe(const CServicePipe&) = delete;
    CServicePipe& operator=(const CServicePipe&) = delete;

    // Opens the pipe, retrying every 100 ms while all instances are busy, for up to 5 s.
    BOOL connect(const wchar_t* pipeName);
    // TRUE only when every byte went out in one write.
    BOOL write(const char* bytes, size_t length);
    // One read of at most capacity bytes; TRUE when it holds one whole framed message. The
    // received length is stored for getField.
    BOOL read(char* reply, size_t capacity);
    // Copies field `index` of the reply last read into out, terminated; FALSE when it is missing
    // or does not fit.
    BOOL getField(const char* reply, int index, char* out, size_t outSize) const;
    void close();

private:
    HANDLE pipe_;
    size_t replyLength_ = 0;
};

// One whole exchange for a formatted request: connect, send, read the reply, send END, close.
// 501 for "OK", the service's code after "NG", 786 for everything else.
MessageCode serviceCommand(const char* request, size_t length);

// Sends END, the message that closes every exchange.
BOOL sendEndRequest(CServicePipe& pipe);

// The decimal value of a reply field: leading blanks, an optional sign, digits up to the first
// non-digit; 0 without digits.
int32_t parseServiceNumber(const char* field);

// Formats one request into a SERVICE_MESSAGE_CAPACITY buffer; returns its length, or 0 when
// the request would not fit or a text argument is not printable ASCII.
size_t formatServiceMessage(char* request, const char* format, ...);

// TRUE when the pipe accepts a connection and the service's extents section can be opened
// for writing by this user.
BOOL serviceExtentsMappingExists();
BOOL isServiceAvailable();
