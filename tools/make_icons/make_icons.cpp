// Draws the removal tool's icons at build time: a blue disc with a white eject sign.
// usage: make_icons <icon 102 path> <icon 103 path>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Pixel { uint8_t b, g, r, a; };

// Coverage of a pixel by the shape, sampled 4x4 for smooth edges at every size.
template <typename Inside>
double coverage(int x, int y, int size, Inside inside) {
    int hits = 0;
    for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
            double u = (x + (sx + 0.5) / 4.0) / size, v = (y + (sy + 0.5) / 4.0) / size;
            if (inside(u, v)) ++hits;
        }
    return hits / 16.0;
}

std::vector<Pixel> draw(int size) {
    std::vector<Pixel> px(static_cast<size_t>(size) * size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            double disc = coverage(x, y, size, [](double u, double v) {
                return (u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5) <= 0.47 * 0.47;
            });
            double sign = coverage(x, y, size, [](double u, double v) {
                bool triangle = v >= 0.24 && v <= 0.54 && std::fabs(u - 0.5) <= (v - 0.24) * 0.9;
                bool bar = v >= 0.62 && v <= 0.74 && u >= 0.23 && u <= 0.77;
                return triangle || bar;
            });
            double shade = 1.0 - 0.35 * (static_cast<double>(y) / size);
            Pixel& p = px[static_cast<size_t>(size - 1 - y) * size + x];  // rows stored bottom-up
            double r = 30 * shade, g = 100 * shade, b = 200 * shade;
            r = r + (255 - r) * sign;
            g = g + (255 - g) * sign;
            b = b + (255 - b) * sign;
            p = {static_cast<uint8_t>(b * disc), static_cast<uint8_t>(g * disc),
                 static_cast<uint8_t>(r * disc), static_cast<uint8_t>(255 * disc)};
        }
    return px;
}

void put16(std::vector<uint8_t>& o, unsigned v) { o.push_back(v & 0xFF); o.push_back((v >> 8) & 0xFF); }
void put32(std::vector<uint8_t>& o, unsigned v) { put16(o, v & 0xFFFF); put16(o, v >> 16); }

std::vector<uint8_t> imageData(int size) {
    std::vector<uint8_t> o;
    unsigned maskRow = ((size + 31) / 32) * 4;
    put32(o, 40); put32(o, size); put32(o, size * 2); put16(o, 1); put16(o, 32);
    put32(o, 0); put32(o, size * size * 4 + maskRow * size); put32(o, 0); put32(o, 0); put32(o, 0); put32(o, 0);
    for (const Pixel& p : draw(size)) { o.push_back(p.b); o.push_back(p.g); o.push_back(p.r); o.push_back(p.a); }
    o.insert(o.end(), maskRow * size, 0);  // alpha decides; the mask shows everything
    return o;
}

bool writeIcon(const char* path, const std::vector<int>& sizes) {
    std::vector<std::vector<uint8_t>> images;
    for (int s : sizes) images.push_back(imageData(s));
    std::vector<uint8_t> o;
    put16(o, 0); put16(o, 1); put16(o, static_cast<unsigned>(sizes.size()));
    unsigned offset = 6 + 16 * static_cast<unsigned>(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        o.push_back(sizes[i] >= 256 ? 0 : sizes[i]); o.push_back(sizes[i] >= 256 ? 0 : sizes[i]);
        o.push_back(0); o.push_back(0); put16(o, 1); put16(o, 32);
        put32(o, static_cast<unsigned>(images[i].size())); put32(o, offset);
        offset += static_cast<unsigned>(images[i].size());
    }
    for (auto& img : images) o.insert(o.end(), img.begin(), img.end());
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(o.data(), 1, o.size(), f) == o.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_icons <icon102.ico> <icon103.ico>\n");
        return 2;
    }
    if (!writeIcon(argv[1], {16, 24, 32, 48, 64, 128, 256}) || !writeIcon(argv[2], {16})) {
        std::perror("make_icons");
        return 1;
    }
    return 0;
}
