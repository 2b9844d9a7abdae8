// The service's reply as the pipe client reads it: any bytes of one read, up to the reply
// buffer's size. The frame check, every field, the result code and the value field are taken
// from the bytes and compared with a plain split of the same bytes.
#include "tool/service/service_reply.h"

#include "common/product_contract.h"
#include "fuzz_input.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// The fields of a whole reply: what lies between the header and each US in turn. The part
// after the last US (ETX at least) is no field. A field with a NUL inside is none either.
std::vector<std::string> splitFields(const std::string& reply) {
    std::vector<std::string> fields;
    size_t start = SERVICE_MESSAGE_HEADER_LENGTH;
    for (size_t at; (at = reply.find(SERVICE_UNIT_SEPARATOR, start)) != std::string::npos; start = at + 1)
        fields.push_back(reply.substr(start, at - start));
    return fields;
}

bool isText(const std::vector<std::string>& fields, size_t index) {
    return index < fields.size() && fields[index].find('\0') == std::string::npos;
}

void checkField(const char* reply, size_t length, const std::vector<std::string>& fields, int index,
                size_t outSize) {
    ExactBuffer<char> out(outSize);
    bool found = getServiceReplyField(reply, length, index, out.block, outSize);
    bool expected = static_cast<size_t>(index) < fields.size() && fields[index].size() < outSize &&
                    fields[index].find('\0') == std::string::npos;
    FUZZ_CHECK(found == expected);
    // Byte for byte, NULs included, and terminated.
    if (found) FUZZ_CHECK(memcmp(out.block, fields[index].data(), fields[index].size()) == 0 &&
                          out.block[fields[index].size()] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One read never returns more than the buffer it is given.
    if (size > SERVICE_MESSAGE_CAPACITY) size = SERVICE_MESSAGE_CAPACITY;
    // The read's own buffer, exactly as long as what arrived.
    ExactBuffer<char> reply(size);
    if (size) memcpy(reply.block, data, size);
    bool whole = isWholeServiceReply(reply.block, size);
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(whole == (size > SERVICE_MESSAGE_HEADER_LENGTH &&
                         bytes.compare(0, SERVICE_MESSAGE_HEADER_LENGTH, SERVICE_MESSAGE_HEADER) == 0 &&
                         bytes.back() == SERVICE_MESSAGE_END));
    if (!whole) return 0;

    const std::vector<std::string> fields = splitFields(bytes);
    static const size_t kOutSizes[] = {1, 2, SERVICE_STATUS_FIELD_SIZE, 260, SERVICE_MESSAGE_CAPACITY};
    for (int index = 0; index < 5; ++index)
        for (size_t outSize : kOutSizes) checkField(reply.block, size, fields, index, outSize);

    MessageCode code = serviceReplyCode(reply.block, size);
    const bool ok = fields.size() > 1 && fields[1] == "OK";
    const bool ng = fields.size() > 2 && fields[1] == "NG" && isText(fields, 2) &&
                    fields[2].size() < SERVICE_STATUS_FIELD_SIZE;
    FUZZ_CHECK((code == MSG_OK) == ok);
    if (!ok && !ng) FUZZ_CHECK(code == MSG_SERVICE_FAILED);
    // A failure code that reads as success must not pass for one.
    if (ng) {
        const MessageCode carried = parseServiceNumber(fields[2].c_str());
        FUZZ_CHECK(code == (carried == MSG_OK ? MSG_SERVICE_FAILED : carried));
    }

    ExactBuffer<char> value(SERVICE_STATUS_FIELD_SIZE);
    bool valued = getServiceReplyValue(reply.block, size, value.block, value.capacity);
    FUZZ_CHECK(valued == (ok && isText(fields, 2) && fields[2].size() < SERVICE_STATUS_FIELD_SIZE));
    if (valued) {
        long long number = parseServiceNumber(value.block);
        // Nine characters hold at most nine digits.
        FUZZ_CHECK(number > -1000000000LL && number < 1000000000LL);
    }
    return 0;
}
