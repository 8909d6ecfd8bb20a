// exrtoppm -i IN -o OUT: an OpenEXR image as a 16-bit binary PPM (P6,
// maxval 65535). Reads the file through OpenEXR's RGBA interface over its
// data window (so luminance and luminance/chroma files come out as RGB);
// each half sample becomes a float, NaN counts as 0, the value is clamped
// to 0..1 and put through the sRGB curve. OUT is written under a temporary
// sibling name and renamed over OUT only when complete.
// Exit status: 0 written, 1 error, 2 usage.
#include <ImfArray.h>
#include <ImfRgbaFile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {
int usage() {
    fprintf(stderr, "usage: exrtoppm -i INPUT.exr -o OUTPUT.ppm\n");
    return 2;
}

// Every half value's 16-bit sRGB sample, indexed by the half's bits.
std::vector<uint16_t> makeTable() {
    std::vector<uint16_t> table(65536);
    for (uint32_t bits = 0; bits < 65536; ++bits) {
        half h;
        h.setBits((unsigned short)bits);
        float v = (float)h;
        if (std::isnan(v) || v < 0.0f) v = 0.0f;
        if (v > 1.0f) v = 1.0f;
        double s = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow((double)v, 1.0 / 2.4) - 0.055;
        table[bits] = (uint16_t)std::lround(s * 65535.0);
    }
    return table;
}

bool convert(const char* in, const char* out, std::string* why) {
    Imf::RgbaInputFile file(in);
    const Imath::Box2i dw = file.dataWindow();
    const int64_t width = (int64_t)dw.max.x - dw.min.x + 1, height = (int64_t)dw.max.y - dw.min.y + 1;
    if (width <= 0 || height <= 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) {
        *why = "empty data window";
        return false;
    }
    const std::vector<uint16_t> table = makeTable();
    std::vector<Imf::Rgba> row((size_t)width);
    std::vector<uint8_t> bytes((size_t)width * 6);

    std::string temp = std::string(out) + ".XXXXXX";
    int fd = mkstemp(temp.data());
    FILE* f = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (!f) {
        if (fd >= 0) {
            close(fd);
            unlink(temp.c_str());
        }
        *why = std::string("cannot write next to ") + out;
        return false;
    }
    bool ok = fprintf(f, "P6\n%lld %lld\n65535\n", (long long)width, (long long)height) > 0;
    try {
        for (int64_t y = dw.min.y; ok && y <= dw.max.y; ++y) {
            // The frame buffer is placed so that only this row lands in it.
            file.setFrameBuffer(row.data() - dw.min.x - y * width, 1, (size_t)width);
            file.readPixels((int)y);
            uint8_t* p = bytes.data();
            for (const Imf::Rgba& px : row) {
                for (const half& c : {px.r, px.g, px.b}) {
                    const uint16_t s = table[c.bits()];
                    *p++ = (uint8_t)(s >> 8);
                    *p++ = (uint8_t)s;
                }
            }
            ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        }
    } catch (...) {
        fclose(f);
        unlink(temp.c_str());
        throw;
    }
    ok = fclose(f) == 0 && ok;
    if (ok) ok = rename(temp.c_str(), out) == 0;
    if (!ok) {
        unlink(temp.c_str());
        *why = std::string("cannot write ") + out;
    }
    return ok;
}
}  // namespace

int main(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc) return usage();
        if (strcmp(argv[i], "-i") == 0 && !in) in = argv[i + 1];
        else if (strcmp(argv[i], "-o") == 0 && !out) out = argv[i + 1];
        else return usage();
    }
    if (!in || !out || !*in || !*out) return usage();
    std::string why;
    try {
        if (convert(in, out, &why)) return 0;
    } catch (const std::exception& e) {
        why = e.what();
    }
    fprintf(stderr, "exrtoppm: %s: %s\n", in, why.c_str());
    return 1;
}
