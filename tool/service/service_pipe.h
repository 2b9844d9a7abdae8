// The client side of one exchange with the product's service over its named pipe.
#pragma once
#include "platform/win.h"

#include <stddef.h>

enum : size_t { SERVICE_MESSAGE_CAPACITY = 1024 };

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
    void close();

private:
    HANDLE pipe_;
};

// Formats one request into a SERVICE_MESSAGE_CAPACITY buffer; returns its length, or 0 when
// the request would not fit or a text argument is not printable ASCII.
size_t formatServiceMessage(char* request, const char* format, ...);

// TRUE when the pipe accepts a connection and the service's extents section can be opened
// for writing by this user.
BOOL serviceExtentsMappingExists();
BOOL isServiceAvailable();
