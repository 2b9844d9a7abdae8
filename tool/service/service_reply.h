// What one reply of the product's service says: its frame, its fields and its result. Kept
// apart from the pipe because the bytes come from another program: these functions must hold
// for any bytes at all, and they need nothing but the bytes to be checked.
#pragma once
#include "common/message_code.h"

#include <stddef.h>
#include <stdint.h>

enum : size_t {
    SERVICE_MESSAGE_CAPACITY = 1024,
    SERVICE_STATUS_FIELD_SIZE = 10,
};

enum : MessageCode { MSG_SERVICE_FAILED = 786 };

// TRUE when the bytes of one read are one whole framed message: the header first, ETX last.
bool isWholeServiceReply(const char* reply, size_t length);

// Copies field `index` of a whole reply into out, terminated; false when it is missing, holds
// a NUL or does not fit. Field 0 is the command keyword right after the header; every field ends with US.
bool getServiceReplyField(const char* reply, size_t length, int index, char* out, size_t outSize);

// The decimal value of a reply field: leading blanks, an optional sign, digits up to the first
// non-digit; 0 without digits.
int32_t parseServiceNumber(const char* field);

// 501 for "OK", the service's code after "NG", 786 for everything else.
MessageCode serviceReplyCode(const char* reply, size_t length);

// Field 2 of a reply whose status is "OK", for the commands that answer with a value.
bool getServiceReplyValue(const char* reply, size_t length, char* value, size_t valueSize);
