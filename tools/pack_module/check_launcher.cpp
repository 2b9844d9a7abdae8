// Checks a built launcher on the build machine, where it may not be possible to run it: its
// machine type, its two "MODULE" resources (LZMA-alone streams as packed, decoded with this
// machine's liblzma to exactly the two tool builds) and its version block.
//
// usage: check_launcher <launcher.exe> <i386|amd64> <Parvane32.exe> <Parvane64.exe>
#include "lzma_memory.h"

#include <lzma.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

int g_failures = 0;

void fail(const std::string& what) {
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    ++g_failures;
}

bool readFile(const char* path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

uint32_t le(const Bytes& b, size_t at, int width) {
    uint32_t v = 0;
    if (at + width > b.size()) return 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | b[at + i];
    return v;
}

// The parts of a PE image this check needs: its machine, and file offsets for resource RVAs.
struct PeImage {
    const Bytes& file;
    uint16_t machine = 0;
    uint32_t resourceRva = 0;
    struct Section {
        uint32_t rva, size, offset;
    };
    std::vector<Section> sections;

    explicit PeImage(const Bytes& bytes) : file(bytes) {
        uint32_t pe = le(file, 0x3C, 4);
        if (le(file, pe, 4) != 0x00004550) return;
        machine = static_cast<uint16_t>(le(file, pe + 4, 2));
        uint32_t sectionCount = le(file, pe + 6, 2);
        uint32_t optionalSize = le(file, pe + 20, 2);
        uint32_t optional = pe + 24;
        uint32_t directories = optional + (le(file, optional, 2) == 0x20B ? 112 : 96);
        resourceRva = le(file, directories + 2 * 8, 4);
        for (uint32_t i = 0, at = optional + optionalSize; i < sectionCount; ++i, at += 40)
            sections.push_back({le(file, at + 12, 4), le(file, at + 16, 4), le(file, at + 20, 4)});
    }
    long offsetOf(uint32_t rva) const {
        for (const Section& s : sections)
            if (rva >= s.rva && rva < s.rva + s.size) return static_cast<long>(s.offset + (rva - s.rva));
        return -1;
    }

    // Names compare as the resource compiler stores them: upper case.
    static bool sameName(const Bytes& f, size_t at, const std::string& name) {
        size_t length = le(f, at, 2);
        if (length != name.size()) return false;
        for (size_t i = 0; i < length; ++i) {
            uint32_t c = le(f, at + 2 + 2 * i, 2);
            if (c >= 'a' && c <= 'z') c -= 32;
            char n = name[i];
            if (n >= 'a' && n <= 'z') n = static_cast<char>(n - 32);
            if (c != static_cast<uint8_t>(n)) return false;
        }
        return true;
    }
    // The target of a directory entry whose name (or numeric id, when name is empty) matches:
    // its file offset, and whether it is a subdirectory.
    bool findEntry(long base, long directory, const std::string& name, uint32_t id, long& target,
                   bool& subdirectory) const {
        uint32_t named = le(file, directory + 12, 2), ids = le(file, directory + 14, 2);
        for (uint32_t i = 0; i < named + ids; ++i) {
            long entry = directory + 16 + 8 * i;
            uint32_t key = le(file, entry, 4), offset = le(file, entry + 4, 4);
            bool match = (key & 0x80000000u) ? !name.empty() && sameName(file, base + (key & 0x7FFFFFFFu), name)
                                             : name.empty() && key == id;
            if (!match) continue;
            target = base + (offset & 0x7FFFFFFFu);
            subdirectory = (offset & 0x80000000u) != 0;
            return true;
        }
        return false;
    }
    // The data of the first language of a resource.
    bool resource(const std::string& typeName, uint32_t typeId, const std::string& name, uint32_t id, Bytes& out) const {
        long base = offsetOf(resourceRva), type = 0, item = 0, leaf = 0;
        bool sub = false;
        if (base < 0 || !findEntry(base, base, typeName, typeId, type, sub) || !sub) return false;
        if (!findEntry(base, type, name, id, item, sub) || !sub) return false;
        if (le(file, item + 12, 2) + le(file, item + 14, 2) == 0) return false;
        uint32_t first = le(file, item + 16 + 4, 4);
        if (first & 0x80000000u) return false;
        leaf = base + first;
        long data = offsetOf(le(file, leaf, 4));
        uint32_t size = le(file, leaf + 4, 4);
        if (data < 0 || static_cast<size_t>(data) + size > file.size()) return false;
        out.assign(file.begin() + data, file.begin() + data + size);
        return true;
    }
};

bool decodeAlone(const Bytes& stream, Bytes& out, std::string& why) {
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&s, UINT64_MAX) != LZMA_OK) {
        why = "decoder init";
        return false;
    }
    size_t left = 0;
    lzma_ret ret = codeWhole(s, stream, out, &left);
    if (ret != LZMA_STREAM_END) {
        why = "liblzma error " + std::to_string(ret);
        return false;
    }
    if (left != 0) {
        why = std::to_string(left) + " bytes after the stream's end";
        return false;
    }
    return true;
}

void checkModule(const PeImage& image, const char* resourceName, const char* toolPath) {
    Bytes stream, tool, decoded;
    std::string what = std::string("MODULE ") + resourceName;
    if (!image.resource("MODULE", 0, resourceName, 0, stream)) return fail(what + " is missing");
    if (!readFile(toolPath, tool)) return fail(std::string("cannot read ") + toolPath);
    if (stream.size() < 13) return fail(what + " is shorter than its header");
    if (stream[0] != 0x5D) return fail(what + ": properties byte is not 0x5D");
    if (le(stream, 1, 4) != (1u << 24)) return fail(what + ": dictionary is not 16 MiB");
    uint64_t stated = le(stream, 5, 4) | (static_cast<uint64_t>(le(stream, 9, 4)) << 32);
    if (stated != tool.size()) return fail(what + ": stated size differs from " + toolPath);
    std::string why;
    if (!decodeAlone(stream, decoded, why)) return fail(what + " does not decode: " + why);
    if (decoded != tool) return fail(what + " decodes to bytes that differ from " + toolPath);
    std::printf("%s: %zu bytes, decodes to %s (%zu bytes)\n", what.c_str(), stream.size(), toolPath, tool.size());
}

// VS_VERSIONINFO as a flat map: "StringFileInfo/040904B0/CompanyName" -> value; binary values
// as their bytes.
void walkVersion(const Bytes& b, size_t at, size_t end, const std::string& prefix,
                 std::map<std::string, std::u16string>& strings, std::map<std::string, Bytes>& binaries) {
    while (at + 6 <= end) {
        size_t length = le(b, at, 2), valueLength = le(b, at + 2, 2), type = le(b, at + 4, 2);
        if (length < 6 || at + length > end) return;
        std::string key;
        size_t p = at + 6;
        while (p + 1 < at + length && le(b, p, 2) != 0) key += static_cast<char>(le(b, p, 2)), p += 2;
        p = (p + 2 + 3) & ~size_t(3);
        std::string path = prefix.empty() ? key : prefix + "/" + key;
        if (type == 1) {
            std::u16string value;
            for (size_t i = 0; i < valueLength && p + 2 * i + 1 < at + length; ++i) {
                char16_t c = static_cast<char16_t>(le(b, p + 2 * i, 2));
                if (c == 0) break;
                value += c;
            }
            strings[path] = value;
            p += 2 * valueLength;
        } else {
            binaries[path] = Bytes(b.begin() + p, b.begin() + std::min(p + valueLength, at + length));
            p += valueLength;
        }
        p = (p + 3) & ~size_t(3);
        walkVersion(b, p, at + length, path, strings, binaries);
        at = (at + length + 3) & ~size_t(3);
    }
}

void checkVersion(const PeImage& image) {
    Bytes block;
    if (!image.resource("", 16, "", 1, block)) return fail("no version block");
    std::map<std::string, std::u16string> strings;
    std::map<std::string, Bytes> binaries;
    walkVersion(block, 0, block.size(), "", strings, binaries);
    const Bytes& fixed = binaries["VS_VERSION_INFO"];
    if (fixed.size() < 52 || le(fixed, 0, 4) != 0xFEEF04BDu) return fail("version block without fixed file info");
    if (le(fixed, 8, 4) != 0x00050001u || le(fixed, 12, 4) != 0x0000001Au)
        fail("fixed file version is not 5.1.0.26");
    const Bytes& translation = binaries["VS_VERSION_INFO/VarFileInfo/Translation"];
    if (translation.size() != 4 || le(translation, 0, 2) != 0x0409 || le(translation, 2, 2) != 0x04B0)
        fail("translation is not 0x0409 / 0x04B0 alone");
    const std::string table = "VS_VERSION_INFO/StringFileInfo/040904B0/";
    const std::pair<const char*, std::u16string> expected[] = {
        {"CompanyName", u"TORVA WORKS INC."},
        {"FileVersion", u"5.1.0.26"},
        {"ProductVersion", u"5.1.0.26"},
        {"ProductName", u"Stravio"},
        {"OriginalFilename", u"Parvane.exe"},
    };
    for (const auto& e : expected) {
        if (strings[table + e.first] != e.second) fail(std::string("version block: ") + e.first + " differs");
    }
    if (g_failures == 0) std::printf("version block: TORVA WORKS INC., 5.1.0.26, Parvane.exe\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: check_launcher <launcher.exe> <i386|amd64> <Parvane32.exe> <Parvane64.exe>\n");
        return 2;
    }
    Bytes file;
    if (!readFile(argv[1], file)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    PeImage image(file);
    uint16_t machine = std::strcmp(argv[2], "i386") == 0 ? 0x14C : 0x8664;
    if (image.machine != machine) fail(std::string(argv[1]) + " is not an " + argv[2] + " image");
    checkModule(image, "__Parvane32.exe", argv[3]);
    checkModule(image, "__Parvane64.exe", argv[4]);
    checkVersion(image);
    std::printf("%s: %zu bytes\n", argv[1], file.size());
    return g_failures == 0 ? 0 : 1;
}
