// Result codes. A MessageCode is also the string id of the text that describes it.
#pragma once
#include <stdint.h>

typedef int32_t MessageCode;

enum : MessageCode {
    MSG_OK = 501,               // success
    MSG_CANCELLED = 502,        // cancelled or refused
    MSG_ERROR_ANY = 506,        // the fallback text for codes without one of their own
    MSG_WINDOWS_VERSION = 507,
    MSG_PRODUCT_NAME = 521,
    MSG_MULTI_START = 531,
    MSG_LIMITED_ACCOUNT = 532,
    MSG_TOOL_NAME = 533,
    MSG_FIND_DISK = 548,
    MSG_CHECK_AUTORUN = 549,
};
