// Reading a fuzzer's bytes as the tool meets them on Windows. Text units are 16 bits there;
// this host's wchar_t is wider, so each unit is read as two little-endian bytes and widened,
// which gives the code under test exactly the values it can meet on Windows.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t remaining() const { return size_; }

    uint16_t takeUnit() {
        if (size_ < 2) {
            size_ = 0;
            return 0;
        }
        uint16_t unit = static_cast<uint16_t>(data_[0] | data_[1] << 8);
        data_ += 2;
        size_ -= 2;
        return unit;
    }

    // Units up to the next zero unit or the end, at most `limit` of them (a zero unit beyond
    // the limit is left for the next text).
    std::wstring takeText(size_t limit) {
        std::wstring text;
        while (size_ >= 2 && text.size() < limit) {
            uint16_t unit = takeUnit();
            if (unit == 0) break;
            text += static_cast<wchar_t>(unit);
        }
        return text;
    }

    std::vector<uint8_t> takeRest() {
        std::vector<uint8_t> rest(data_, data_ + size_);
        size_ = 0;
        return rest;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

// A heap block of exactly `units` units, so that the sanitizer sees a write one past its end.
template <typename Ch>
struct ExactBuffer {
    explicit ExactBuffer(size_t units) : block(new Ch[units]), capacity(units) {
        for (size_t i = 0; i < units; ++i) block[i] = static_cast<Ch>('#');
    }
    ~ExactBuffer() { delete[] block; }
    ExactBuffer(const ExactBuffer&) = delete;
    ExactBuffer& operator=(const ExactBuffer&) = delete;
    Ch* block;
    size_t capacity;
};

// Stops the run with a report the fuzzer saves as a crash.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            abort();                                                                           \
        }                                                                                      \
    } while (0)
