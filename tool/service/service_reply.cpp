#include "tool/service/service_reply.h"

#include "common/product_contract.h"

#include <string.h>

bool isWholeServiceReply(const char* reply, size_t length) {
    return length >= SERVICE_MESSAGE_HEADER_LENGTH + 1 &&
           memcmp(reply, SERVICE_MESSAGE_HEADER, SERVICE_MESSAGE_HEADER_LENGTH) == 0 &&
           reply[length - 1] == SERVICE_MESSAGE_END;
}

bool getServiceReplyField(const char* reply, size_t length, int index, char* out, size_t outSize) {
    if (length < SERVICE_MESSAGE_HEADER_LENGTH || outSize == 0) return false;
    const char* end = reply + length;
    const char* p = reply + SERVICE_MESSAGE_HEADER_LENGTH;
    for (int skipped = 0; skipped < index; ++skipped) {
        p = static_cast<const char*>(memchr(p, SERVICE_UNIT_SEPARATOR, static_cast<size_t>(end - p)));
        if (!p) return false;
        ++p;
    }
    const char* fieldEnd = static_cast<const char*>(memchr(p, SERVICE_UNIT_SEPARATOR, static_cast<size_t>(end - p)));
    if (!fieldEnd) return false;
    size_t fieldLength = static_cast<size_t>(fieldEnd - p);
    // Fields are text: one with a NUL inside would read as its part before the NUL, and an
    // "OK\0..." status as success.
    if (fieldLength >= outSize || memchr(p, 0, fieldLength)) return false;
    memcpy(out, p, fieldLength);
    out[fieldLength] = 0;
    return true;
}

int32_t parseServiceNumber(const char* field) {
    while (*field == ' ') ++field;
    bool negative = *field == '-';
    if (*field == '-' || *field == '+') ++field;
    int64_t value = 0;
    // Fields hold at most 9 characters, so the value always fits.
    for (; *field >= '0' && *field <= '9'; ++field) value = value * 10 + (*field - '0');
    return static_cast<int32_t>(negative ? -value : value);
}

MessageCode serviceReplyCode(const char* reply, size_t length) {
    char status[SERVICE_STATUS_FIELD_SIZE];
    char code[SERVICE_STATUS_FIELD_SIZE];
    if (!getServiceReplyField(reply, length, 1, status, sizeof(status))) return MSG_SERVICE_FAILED;
    if (strcmp(status, "OK") == 0) return MSG_OK;
    if (strcmp(status, "NG") != 0 || !getServiceReplyField(reply, length, 2, code, sizeof(code)))
        return MSG_SERVICE_FAILED;
    MessageCode result = parseServiceNumber(code);
    // A failure reply must never read as success, whatever code it carries.
    return result == MSG_OK ? MSG_SERVICE_FAILED : result;
}

bool getServiceReplyValue(const char* reply, size_t length, char* value, size_t valueSize) {
    char status[SERVICE_STATUS_FIELD_SIZE];
    return getServiceReplyField(reply, length, 1, status, sizeof(status)) && strcmp(status, "OK") == 0 &&
           getServiceReplyField(reply, length, 2, value, valueSize);
}
