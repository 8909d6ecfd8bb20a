// writerendings: the file-name endings people use for each writer's format,
// lower case, the usual one first. The front end's save filters list them
// and a save appends the first; kxop picks a writer by any of them. The
// writer's own extension (GetExtension, from its registration) is always
// among them, so a name it made before still names it.
#pragma once

#include <strings.h>

#include <cstring>
#include <string>
#include <vector>

struct KXWriterEndings {
    const char* ClassName;
    const char* Endings;  // "jpg;jpeg;jpe;jfif"
};

inline constexpr KXWriterEndings kKXWriterEndings[] = {
    {"kxoBMP", "bmp;dib"},
    {"kxoFBM", "fbm"},
    {"kxoGIF", "gif"},
    {"kxoILBM", "iff;lbm;ilbm"},
    {"kxoIMG", "img;ximg"},
    {"kxoJFIF", "jpg;jpeg;jpe;jfif"},
    {"kxoMAC", "mac;pntg"},
    {"kxoPCP", "pcp"},
    {"kxoPCX", "pcx"},
    {"kxoPICT", "pct;pict"},
    {"kxoPNG", "png"},
    {"kxoPNM", "pnm;ppm;pgm"},
    {"kxoQRT", "qrt"},
    {"kxoRAS", "ras;sun"},
    {"kxoSGI", "sgi;rgb;rgba;bw"},
    {"kxoTGA", "tga"},
    {"kxoTIFF", "tif;tiff"},
    {"kxoJPEG2000", "jp2"},
    {"kxoRGFX", "rgx;rgfx"},
    {"kxoKGX", "kgx"},
    {"kxoXPM", "xpm"},
    {"kxoPSD", "psd"},
    {"kxoDDS", "dds"},
    {"kxoLJPG", "jls"},
    {"kxoXBM", "xbm"},
    {"kxoHDR", "hdr;rgbe"},
    {"kxoPAM", "pam"},
    {"kxoPFM", "pfm"},
    {"kxoEPS", "eps;epsf"},
    {"kxoRGB8", "rg8;rgb8"},
    {"kxoDEEP", "dep;deep"},
    {"kxoYUVN", "yuv;yuvn"},
    {"kxoPBM", "pbm"},
    {"kxoACBM", "abm;acbm"},
    {"kxoMTV", "mtv"},
    {"kxoRAW", "raw"},
    {"kxoMIFF", "miff;mif"},
    {"kxoCSRC", "c"},
    {"kxoRAWMeta", "rawmeta"},
};

// The endings of a writer class, the usual one first; ownExtension (with or
// without its dot, any case) is added last when the table lacks it, and is
// the only one for a class without a row.
inline std::vector<std::string> KX_WriterEndings(const char* className, const char* ownExtension) {
    std::vector<std::string> out;
    for (const KXWriterEndings& row : kKXWriterEndings) {
        if (!className || std::strcmp(row.ClassName, className) != 0) continue;
        const char* p = row.Endings;
        while (*p) {
            const char* end = std::strchr(p, ';');
            const size_t n = end ? size_t(end - p) : std::strlen(p);
            out.emplace_back(p, n);
            p += n + (end ? 1 : 0);
        }
        break;
    }
    if (ownExtension) {
        if (*ownExtension == '.') ++ownExtension;
        std::string own(ownExtension);
        for (char& c : own) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        bool listed = own.empty();
        for (const std::string& e : out) listed = listed || e == own;
        if (!listed) out.push_back(own);
    }
    return out;
}

// True when ending (with or without its dot) is one of the writer's.
inline bool KX_WriterHasEnding(const char* className, const char* ownExtension, const char* ending) {
    if (!ending) return false;
    if (*ending == '.') ++ending;
    for (const std::string& e : KX_WriterEndings(className, ownExtension))
        if (!strcasecmp(e.c_str(), ending)) return true;
    return false;
}
