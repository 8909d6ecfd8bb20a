// dng: a small camera RAW file for the tests of the dcraw road, written with
// libtiff.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

// A 64 x 48 DNG with a Bayer mosaic (RGGB, 16 bits): red on the left half,
// blue on the right.
inline bool KXT_WriteDng(const std::string& path) {
    const int w = 64, h = 48;
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return false;
    static const uint8_t version[4] = {1, 4, 0, 0};
    static const uint16_t dim[2] = {2, 2};
    static const uint8_t pattern[4] = {0, 1, 1, 2};
    bool ok = TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0) && TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w) &&
              TIFFSetField(t, TIFFTAG_IMAGELENGTH, h) && TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1) && TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC, 32803) && TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h) && TIFFSetField(t, TIFFTAG_MAKE, "Kaxon5") &&
              TIFFSetField(t, TIFFTAG_MODEL, "Test") && TIFFSetField(t, TIFFTAG_DNGVERSION, version) &&
              TIFFSetField(t, TIFFTAG_CFAREPEATPATTERNDIM, dim) && TIFFSetField(t, TIFFTAG_CFAPATTERN, 4, pattern);
    std::vector<uint16_t> row(w);
    for (int y = 0; ok && y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int site = (y & 1) * 2 + (x & 1);  // 0 red, 1 and 2 green, 3 blue
            row[x] = (x < w / 2 ? site == 0 : site == 3) ? 60000 : 2000;
        }
        ok = TIFFWriteScanline(t, row.data(), y, 0) == 1;
    }
    TIFFClose(t);
    return ok;
}
