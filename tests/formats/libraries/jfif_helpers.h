// Shared by the JPEG tests: kxoJFIF driven with settings, the pixels of a
// loaded image as RGB, djpeg's decoding of the same file, and JPEG files
// written straight through libjpeg (CMYK, YCCK, markers of our choosing).
#pragma once

#include <cstdio>
#include <jpeglib.h>

#include "formats/libraries/kxoJFIF.h"
#include "png_helpers.h"

namespace jfiftest {

using pngtest::Buffer;
using pngtest::Settings;

inline std::string TempPath(const std::string& name) {
    return std::string(KX_GetProcessTempDir()) + "jfif_test_" + std::to_string(getpid()) + "_" + name;
}

inline int RunTool(const std::string& command) { return system((command + " 2>/dev/null").c_str()); }

// One object with its settings list.
struct Jfif {
    kxoJFIF obj;
    std::unique_ptr<KXConfig> cfg;
    explicit Jfif(const Settings& settings = {}, KXClass* lib = nullptr) : obj(lib) {
        if (settings.empty()) return;
        uint32_t err = 0;
        cfg = std::make_unique<KXConfig>(obj.PadPath, &err);
        for (const auto& [k, v] : settings) cfg->SetValue(k.c_str(), v.c_str());
        obj.SetLocalConfig(cfg->GetPadList());
    }
    Jfif(std::initializer_list<Settings::value_type> list) : Jfif(Settings(list)) {}
    Jfif(const Jfif&) = delete;
    ~Jfif() { obj.Reset(); }
    uint32_t Save(KX_GfxBuffer* b, const std::string& path, KXOSpecialInfo* info = nullptr, uint32_t sub = 0) {
        obj.SetSaveName(path.c_str());
        obj.SetGfxBuffer(b);
        obj.SetSubFormat(sub);
        if (info) {
            obj.SetSaveMeta(1);
            obj.SetSpecialInfo(info);
        }
        return obj.Save();
    }
    uint32_t Load(const std::string& path, bool meta = false) {
        obj.SetLoadMeta(meta ? 1 : 0);
        obj.SetReadName(path.c_str());
        return obj.Load();
    }
    KX_GfxBuffer* Image() {
        KX_GfxBuffer* b = nullptr;
        obj.GetGfxBuffer(&b);
        return b;
    }
};

// The loaded image as 8-bit RGB triples (palette images looked up).
inline std::vector<uint8_t> Rgb(const KX_GfxBuffer* b) {
    std::vector<uint8_t> out;
    const size_t n = (size_t)b->Width * b->Height;
    out.resize(n * 3);
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c)
            out[i * 3 + c] = b->PixelBits == 24 ? b->Data[i * 3 + c] : b->Palette[b->Data[i] * 3 + c];
    return out;
}

// djpeg's decoding of the file with the given options; empty when it fails.
inline pngtest::Pnm Djpeg(const std::string& jpeg, const std::string& options) {
    const std::string out = jpeg + ".djpeg.pnm";
    pngtest::Pnm p;
    if (RunTool("djpeg -pnm " + options + " " + jpeg + " > " + out) == 0) pngtest::ParsePnm(KXT_ReadBytes(out), &p);
    remove(out.c_str());
    return p;
}

// The largest difference between our pixels and djpeg's.
inline int MaxDifference(const KX_GfxBuffer* b, const pngtest::Pnm& p) {
    if (b->Width != p.width || b->Height != p.height) return 999;
    const auto ours = Rgb(b);
    int worst = 0;
    for (size_t i = 0; i < ours.size(); ++i) worst = std::max(worst, std::abs((int)ours[i] - (int)p.rgb[i]));
    return worst;
}

// A deterministic test picture: smooth gradients with some detail.
inline uint8_t Sample(uint32_t x, uint32_t y, uint32_t c) {
    return (uint8_t)((x * (3 + c) + y * (5 - c) + ((x ^ y) & 7) * 9 + c * 60) & 0xFF);
}

inline std::vector<uint8_t> Ppm(uint32_t w, uint32_t h) {
    return pngtest::MakePnm(true, w, h, 255, [w](uint32_t i) { return Sample(i / 3 % w, i / 3 / w, i % 3); });
}

inline Buffer MakeRgb(uint32_t w, uint32_t h) {
    KX_GfxBuffer* b = KXT_NewChunkyBuffer(1, w, h, 24);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t c = 0; c < 3; ++c) b->Data[(y * w + x) * 3 + c] = Sample(x, y, c);
    return Buffer(b);
}

// A JPEG written by libjpeg itself. components 3 (RGB in), 4 (CMYK in,
// stored as CMYK or YCCK); markers(c) runs after jpeg_start_compress.
inline bool WriteLibjpeg(const std::string& path, uint32_t w, uint32_t h, int components, J_COLOR_SPACE stored,
                         const std::function<void(j_compress_ptr)>& markers = nullptr, bool jfifMarker = true) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = w;
    c.image_height = h;
    c.input_components = components;
    c.in_color_space = components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, stored);
    c.write_JFIF_header = jfifMarker ? TRUE : FALSE;
    jpeg_set_quality(&c, 92, TRUE);
    jpeg_start_compress(&c, TRUE);
    if (markers) markers(&c);
    std::vector<uint8_t> row((size_t)w * components);
    while (c.next_scanline < h) {
        for (uint32_t x = 0; x < w; ++x)
            for (int k = 0; k < components; ++k) row[x * components + k] = Sample(x, c.next_scanline, k % 3) ^ (k == 3 ? 0x40 : 0);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    fclose(f);
    return true;
}

// Raw CMYK samples of a file through libjpeg (the reference for our C·K/255 narrowing).
inline std::vector<uint8_t> DecodeCmyk(const std::string& path, uint32_t* w, uint32_t* h) {
    std::vector<uint8_t> out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return out;
    jpeg_decompress_struct d;
    jpeg_error_mgr e;
    d.err = jpeg_std_error(&e);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_CMYK;
    d.dct_method = JDCT_IFAST;
    jpeg_start_decompress(&d);
    *w = d.output_width;
    *h = d.output_height;
    out.resize((size_t)*w * *h * 4);
    while (d.output_scanline < d.output_height) {
        JSAMPROW r = out.data() + (size_t)d.output_scanline * *w * 4;
        jpeg_read_scanlines(&d, &r, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    fclose(f);
    return out;
}

// The marker segments of a JPEG file up to the scan: (marker, payload).
inline std::vector<std::pair<int, std::vector<uint8_t>>> Markers(const std::vector<uint8_t>& f, size_t from = 2) {
    std::vector<std::pair<int, std::vector<uint8_t>>> out;
    size_t p = from;
    while (p + 4 <= f.size() && f[p] == 0xFF && f[p + 1] != 0xDA) {
        const size_t len = (size_t)f[p + 2] << 8 | f[p + 3];
        if (len < 2 || p + 2 + len > f.size()) break;
        out.push_back({f[p + 1], std::vector<uint8_t>(f.begin() + p + 4, f.begin() + p + 2 + len)});
        p += 2 + len;
    }
    return out;
}

}  // namespace jfiftest
