// The client side of one exchange with the product's service over its named pipe.
#pragma once
#include "common/message_code.h"
#include "platform/win.h"
#include "tool/service/service_reply.h"

#include <stddef.h>

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
    // One read of at most capacity bytes; TRUE when it holds one whole framed message, whose
    // length replyLength then gives for the reply functions.
    BOOL read(char* reply, size_t capacity);
    size_t replyLength() const { return replyLength_; }
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

// Formats one request into a SERVICE_MESSAGE_CAPACITY buffer; returns its length, or 0 when
// the request would not fit or a text argument is not printable ASCII.
size_t formatServiceMessage(char* request, const char* format, ...);

// TRUE when the pipe accepts a connection and the service's extents section can be opened
// for writing by this user.
BOOL serviceExtentsMappingExists();
BOOL isServiceAvailable();
