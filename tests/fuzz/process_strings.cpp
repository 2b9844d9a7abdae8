// A string of another process as the usage scan copies it: the UNICODE_STRING's Length and
// MaximumLength (two little-endian 16-bit counts), then whatever lies at its Buffer address in
// the other process, as UTF-16LE units. The reader hands out only the units that lie there, as
// ReadProcessMemory fails a read past a process's mapped memory. The copy, then the drive test
// and the name the user is shown, are checked against the same units taken without limits.
#include "tool/usage/process_strings.h"

#include "fuzz_input.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

struct RemoteMemory {
    std::vector<uint8_t> bytes;
    const void* address;
};

bool readFromRemote(void* process, const void* address, wchar_t* text, size_t units) {
    const RemoteMemory& remote = *static_cast<const RemoteMemory*>(process);
    FUZZ_CHECK(address == remote.address);
    if (units * 2 > remote.bytes.size()) return false;
    for (size_t i = 0; i < units; ++i)
        text[i] = static_cast<wchar_t>(remote.bytes[2 * i] | remote.bytes[2 * i + 1] << 8);
    return true;
}

// A field as large as a snapshot's, allocated once: the copy must never write past it.
wchar_t* snapshotField() {
    static wchar_t* field = new wchar_t[PROCESS_STRING_CAPACITY];
    return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint16_t length = input.takeUnit();
    const uint16_t maximumLength = input.takeUnit();
    RemoteMemory remote = {input.takeRest(), reinterpret_cast<const void*>(0x7FFE0000u)};

    // The descriptor's bytes as the scan copies them out of the process parameters.
    unsigned char descriptor[2 * sizeof(void*)] = {};
    memcpy(descriptor, &length, 2);
    memcpy(descriptor + 2, &maximumLength, 2);
    memcpy(descriptor + sizeof(void*), &remote.address, sizeof(void*));

    wchar_t* field = snapshotField();
    field[0] = 0;
    copyRemoteString(readFromRemote, &remote, descriptor, field);

    const size_t units = remoteStringUnits(length, maximumLength);
    FUZZ_CHECK(units <= PROCESS_STRING_CAPACITY - 1);
    FUZZ_CHECK(units <= length / 2 && units <= maximumLength / 2);
    std::wstring expected;
    if (units * 2 <= remote.bytes.size()) {
        for (size_t i = 0; i < units; ++i) {
            wchar_t unit = static_cast<wchar_t>(remote.bytes[2 * i] | remote.bytes[2 * i + 1] << 8);
            if (unit == 0) break;
            expected += unit;
        }
    }
    FUZZ_CHECK(expected == field);

    FUZZ_CHECK(isOnDrive(field, L"E: ") ==
               (expected.size() >= 2 && (expected[0] == L'E' || expected[0] == L'e') && expected[1] == L':'));

    // The name is the last component, cut, and never longer than its buffer.
    wchar_t* name = new wchar_t[PROCESS_NAME_CAPACITY];
    processNameFromImagePath(field, name);
    const size_t nameLength = wcslen(name);
    FUZZ_CHECK(nameLength < PROCESS_NAME_CAPACITY);
    FUZZ_CHECK(std::wstring(name).find_first_of(L"\\/") == std::wstring::npos);
    FUZZ_CHECK(nameLength <= expected.size());
    delete[] name;
    return 0;
}
