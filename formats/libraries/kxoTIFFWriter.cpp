// kxoTIFF's writer: one big-endian directory, the picture in strips of
// about 8 KB of rows.
//
// The directory sits at offset 8 and the data area follows it in a fixed
// order: colour map, the strip offset and length tables (with more than
// one strip), the strips, XMP, IPTC, ICC profile, EXIF directories, then
// the four texts. The strips' lengths are only known once they have been
// compressed, so the directory and the tables are written last, over room
// kept for them: the strips go straight into the file, uncompressed or
// deflated (through libdeflate, or zlib for its other strategies), and a
// save needs little more memory than the picture. Deflated strips are
// compressed on several threads, each strip on its own, so the file does
// not depend on the number of processors.
//
// The record's orientation and texts are main-directory tags; the EXIF
// block (a big-endian one turned little-endian through libexif first)
// follows without the tags the main directory holds, and a text the
// written IPTC records carry is left to them: each value is written once.
#include <libdeflate.h>
#include <sched.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "core/catalogue.h"
#include "core/exifiptc.h"
#include "core/files.h"
#include "core/gfxbuffer.h"
#include "core/log.h"
#include "core/memory.h"
#include "formats/libraries/kxlog_helpers.h"
#include "formats/libraries/kxoTIFF.h"

namespace {

const char* const kTag = "tiff";
const KXModuleLog kLog{kTag};

enum : uint16_t { T_BYTE = 1, T_ASCII = 2, T_SHORT = 3, T_LONG = 4, T_UNDEFINED = 7 };

// Bytes of one value of a TIFF type; 0 for a type TIFF does not define.
uint32_t typeWidth(uint32_t type) {
    static const uint8_t widths[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < sizeof(widths) ? widths[type] : 0;
}

// The unit a value of the type is byte-swapped in (1: not at all).
uint32_t swapUnit(uint32_t type) {
    switch (type) {
        case 3: case 8: return 2;                   // SHORT, SSHORT
        case 4: case 5: case 9: case 10: case 11: case 13: return 4;  // LONG, RATIONAL, SLONG, SRATIONAL, FLOAT, IFD
        case 12: return 8;                          // DOUBLE
        default: return 1;
    }
}

uint16_t le16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }
void putLe32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}
void reverse(uint8_t* p, uint32_t n) {
    for (uint32_t i = 0; i < n / 2; ++i) {
        const uint8_t t = p[i];
        p[i] = p[n - 1 - i];
        p[n - 1 - i] = t;
    }
}

// The EXIF block arrives little-endian ("Exif", two zeros, an "II" TIFF
// header, then the directories) and goes into a big-endian file behind
// the main directory. Its offsets count from its TIFF header, so every
// offset grows by the distance between that header and the place the
// directories land in (delta); and every number the directories hold is
// turned to big-endian. The walk collects the changes first and checks
// every directory, entry and data range against the block, so that
// nothing outside it is ever read or written; a directory that does not
// fit is cut off (the link to it becomes 0), and a block whose first
// directory does not fit is not written at all.
//
// Besides the chain from the first directory, the EXIF, GPS and
// interoperability directories are followed wherever their pointers sit
// (the interoperability pointer lives in the EXIF directory), and the
// offsets of a thumbnail (JPEGInterchangeFormat, strip offsets) move with
// the data they point at.
class ExifRelocation {
public:
    ExifRelocation(uint8_t* block, uint32_t size) : B(block), N(size) {}

    // False when the first directory does not fit: write no EXIF then.
    bool collect() {
        if (N < 14 + 2) return false;
        return walk(8, true, 0);
    }

    // Applies the changes for the directories landing at file offset D.
    void apply(uint32_t D) {
        const uint32_t delta = D - 8;
        for (uint32_t at : Relocate) putLe32(B + at, le32(B + at) + delta);
        for (uint32_t at : Zero) putLe32(B + at, 0);
        for (const Swap& s : Swaps) reverse(B + s.At, s.Unit);
    }

private:
    struct Swap {
        uint32_t At;
        uint32_t Unit;
    };

    // Byte position in the block of TIFF offset x, when n bytes fit there.
    bool inside(uint64_t x, uint64_t n, uint32_t* at) const {
        const uint64_t pos = x + 6;
        if (x < 8 || pos + n > N) return false;
        *at = (uint32_t)pos;
        return true;
    }

    void swapRange(uint32_t at, uint64_t bytes, uint32_t unit) {
        if (unit < 2) return;
        for (uint64_t i = 0; i + unit <= bytes; i += unit) Swaps.push_back({at + (uint32_t)i, unit});
    }

    static bool isPointer(uint32_t tag) { return tag == 34665 || tag == 34853 || tag == 40965; }
    static bool isOffset(uint32_t tag) { return tag == 513 || tag == 273 || tag == 324; }

    bool walk(uint32_t x, bool chain, int depth) {
        uint32_t at = 0;
        if (depth > 16 || Seen.size() > 256 || !inside(x, 2, &at)) return false;
        for (uint32_t s : Seen)
            if (s == x) return false;
        Seen.push_back(x);
        const uint32_t count = le16(B + at);
        uint32_t entries = 0;
        if (!inside(x, 2 + 12ull * count + 4, &entries)) return false;
        Swaps.push_back({at, 2});
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t e = at + 2 + 12 * i;
            const uint32_t tag = le16(B + e), type = le16(B + e + 2), n = le32(B + e + 4);
            Swaps.push_back({e, 2});
            Swaps.push_back({e + 2, 2});
            Swaps.push_back({e + 4, 4});
            const uint64_t bytes = (uint64_t)typeWidth(type) * n;
            const uint32_t unit = swapUnit(type);
            if (bytes <= 4) {
                if (isPointer(tag) && n == 1 && (type == T_LONG || type == 13)) {
                    if (walk(le32(B + e + 8), false, depth + 1))
                        Relocate.push_back(e + 8);
                    else
                        Zero.push_back(e + 8);
                } else if (isOffset(tag) && type == T_LONG && n == 1) {
                    Relocate.push_back(e + 8);
                }
                swapRange(e + 8, unit == 2 ? 4 : bytes, unit);
                continue;
            }
            Relocate.push_back(e + 8);
            Swaps.push_back({e + 8, 4});
            uint32_t data = 0;
            if (!inside(le32(B + e + 8), bytes, &data)) continue;  // points elsewhere: left as it is
            if (isOffset(tag) && type == T_LONG)
                for (uint32_t k = 0; k < n; ++k) Relocate.push_back(data + 4 * k);
            swapRange(data, bytes, unit);
        }
        const uint32_t link = at + 2 + 12 * count;
        Swaps.push_back({link, 4});
        const uint32_t next = le32(B + link);
        if (chain && next != 0) {
            if (walk(next, true, depth + 1))
                Relocate.push_back(link);
            else
                Zero.push_back(link);
        }
        return true;
    }

    uint8_t* B;
    uint32_t N;
    std::vector<uint32_t> Seen;
    std::vector<uint32_t> Relocate;
    std::vector<uint32_t> Zero;
    std::vector<Swap> Swaps;
};

// Takes out of the EXIF block's first directory (at TIFF offset 8, where
// the relocation takes it too) the entries whose tags the main directory
// holds itself, so that a reader finds each of them once, in the main
// directory where TIFF keeps them. The entries behind them and the link
// move up; the bytes left behind and the dropped entries' data stay in the
// block unused. A directory that does not fit is left to the relocation,
// which refuses it.
void dropEntries(uint8_t* B, uint32_t N, const std::vector<uint16_t>& tags) {
    const uint32_t at = 14;
    if (tags.empty() || N < at + 2) return;
    const uint32_t count = le16(B + at);
    if ((uint64_t)at + 2 + 12ull * count + 4 > N) return;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = B + at + 2 + 12 * i;
        if (std::find(tags.begin(), tags.end(), le16(e)) != tags.end()) continue;
        if (kept != i) memmove(B + at + 2 + 12 * kept, e, 12);
        ++kept;
    }
    if (kept == count) return;
    memmove(B + at + 2 + 12 * kept, B + at + 2 + 12 * count, 4);
    B[at] = (uint8_t)kept;
    B[at + 1] = (uint8_t)(kept >> 8);
}

struct Entry {
    uint16_t Tag;
    uint16_t Type;
    uint32_t Count;
    uint32_t Value;
    uint8_t Inline[4];  // a value of up to four bytes, held in the entry
    bool IsInline;
};

// One item of the data area.
struct Item {
    const uint8_t* Data = nullptr;
    uint32_t Length = 0;   // bytes of data
    uint32_t Padding = 0;  // zero bytes after it
    uint32_t Offset = 0;
    bool present() const { return Data != nullptr; }
    // Values of up to four bytes live in the entry itself, as TIFF asks;
    // only longer ones take room in the data area.
    bool inEntry() const { return Length + Padding <= 4; }
    uint32_t room() const { return present() && !inEntry() ? Length + Padding : 0; }
};


struct Plan {
    bool palette = false;
    bool alpha = false;
    bool deflate = false;
    bool newSubfile = false;
    uint16_t exifTag = 0;  // 34665, 330 or none
    uint32_t bits = 8;     // per sample
    uint32_t orientation = 0;  // 1..8, or none
    uint32_t width = 0, height = 0;
    uint32_t rowsPerStrip = 1, strips = 1;
    // With one strip its offset and length sit in the entries; with more,
    // the entries point at the two tables.
    uint32_t stripLength = 0, stripOffset = 0, offsetTable = 0, lengthTable = 0;
    uint32_t colourMapOffset = 0, exifOffset = 0;
    Item xmp, iptc, icc, exif;
    Item texts[4];  // Copyright, Artist, ImageDescription, DocumentName
};

void itemEntry(std::vector<Entry>& list, uint16_t tag, uint16_t type, uint32_t count, const Item& item) {
    Entry e = {tag, type, count, item.Offset, {0, 0, 0, 0}, false};
    if (item.inEntry()) {
        e.IsInline = true;
        memcpy(e.Inline, item.Data, item.Length);
    }
    list.push_back(e);
}

// The directory's entries. TIFF asks for them in ascending tag order
// (libtiff warns about any other, strict readers refuse it), so they are
// sorted before they are written; the data area keeps its own order. A
// SHORT value sits in the first two bytes of the value field.
std::vector<Entry> buildEntries(const Plan& p) {
    std::vector<Entry> e;
    auto shortEntry = [&](uint16_t tag, uint32_t v) { e.push_back({tag, T_SHORT, 1, v << 16, {}, false}); };
    auto longEntry = [&](uint16_t tag, uint32_t v) { e.push_back({tag, T_LONG, 1, v, {}, false}); };
    // A side beyond 65535 does not fit a SHORT: LONG keeps it whole.
    auto sizeEntry = [&](uint16_t tag, uint32_t v) { v > 0xFFFF ? longEntry(tag, v) : shortEntry(tag, v); };
    const uint32_t compression = p.deflate ? 8 : 1;
    auto stripEntries = [&] {
        if (p.strips == 1) {
            longEntry(273, p.stripOffset);
            longEntry(279, p.stripLength);
        } else {
            e.push_back({273, T_LONG, p.strips, p.offsetTable, {}, false});
            e.push_back({279, T_LONG, p.strips, p.lengthTable, {}, false});
        }
        sizeEntry(278, p.rowsPerStrip);
    };
    if (p.newSubfile) shortEntry(254, 0);
    sizeEntry(256, p.width);
    sizeEntry(257, p.height);
    if (p.palette) {
        shortEntry(258, 8);
        shortEntry(259, compression);
        shortEntry(262, 3);
        e.push_back({320, T_SHORT, 768, p.colourMapOffset, {}, false});
        stripEntries();
        shortEntry(277, 1);
    } else {
        shortEntry(258, p.bits);  // one value for all samples
        shortEntry(259, compression);
        shortEntry(262, 2);
        stripEntries();
        shortEntry(277, p.alpha ? 4 : 3);
        shortEntry(284, 1);
        if (p.alpha) shortEntry(338, 2);
    }
    if (p.orientation) shortEntry(274, p.orientation);
    if (p.xmp.present()) itemEntry(e, 700, T_ASCII, p.xmp.Length, p.xmp);
    if (p.iptc.present()) itemEntry(e, 33723, T_LONG, (p.iptc.Length + p.iptc.Padding) / 4, p.iptc);
    if (p.icc.present()) itemEntry(e, 34675, T_UNDEFINED, p.icc.Length, p.icc);
    if (p.exif.present()) longEntry(p.exifTag, p.exifOffset);
    static const uint16_t textTags[4] = {33432, 315, 270, 269};
    for (int i = 0; i < 4; ++i)
        if (p.texts[i].present()) itemEntry(e, textTags[i], T_ASCII, p.texts[i].Length, p.texts[i]);
    std::stable_sort(e.begin(), e.end(), [](const Entry& a, const Entry& b) { return a.Tag < b.Tag; });
    return e;
}

void writeEntry(KXByteWriter& w, const Entry& e) {
    w.be16(e.Tag);
    w.be16(e.Type);
    w.be32(e.Count);
    if (e.IsInline)
        w.bytes(e.Inline, 4);
    else
        w.be32(e.Value);
}

// Rows per strip: about 8 KB of rows, at least one, the size TIFF writers
// commonly choose. A reader then holds no more than that at a time, the
// writer no more than a few runs of strips, and the strips compress
// independently of each other. Larger strips compress a little better
// (1-2 %) but more slowly: libdeflate's search costs more per byte on
// longer inputs.
constexpr uint32_t kStripBytes = 8 * 1024;
// Uncompressed bytes one thread takes at a time.
constexpr uint32_t kWorkBytes = 1024 * 1024;

// Processors this process may run on (its affinity mask), at least 1.
unsigned processors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return (unsigned)n;
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n ? n : 1;
}

// The uncompressed bytes of a run of rows: the buffer's own rows, or with
// the alpha map's samples interleaved (R, G, B, A; 16-bit samples
// big-endian, as the buffer's colour samples already are).
struct RowSource {
    const uint8_t* Data = nullptr;
    uint32_t Width = 0;
    uint32_t RowBytes = 0;  // of the strip's rows
    bool Alpha = false;
    const uint8_t* Alpha8 = nullptr;
    const uint16_t* Alpha16 = nullptr;
    bool Alpha16Big = false;  // a lent 16-bit map follows the buffer's order

    const uint8_t* rows(uint32_t y, uint32_t n, uint8_t* scratch) const {
        if (!Alpha) return Data + (size_t)y * RowBytes;
        uint8_t* d = scratch;
        for (uint32_t r = y; r < y + n; ++r) {
            if (Alpha8) {
                const uint8_t* src = Data + (size_t)r * Width * 3;
                const uint8_t* a = Alpha8 + (size_t)r * Width;
                for (uint32_t x = 0; x < Width; ++x, src += 3, d += 4) {
                    d[0] = src[0];
                    d[1] = src[1];
                    d[2] = src[2];
                    d[3] = a[x];
                }
            } else {
                const uint8_t* src = Data + (size_t)r * Width * 6;
                const uint16_t* a = Alpha16 + (size_t)r * Width;
                for (uint32_t x = 0; x < Width; ++x, src += 6, d += 8) {
                    memcpy(d, src, 6);
                    const uint16_t v = a[x];
                    if (Alpha16Big) {
                        memcpy(d + 6, &v, 2);
                    } else {
                        d[6] = (uint8_t)(v >> 8);
                        d[7] = (uint8_t)v;
                    }
                }
            }
        }
        return scratch;
    }
};

// Compresses strips one at a time into zlib streams: through libdeflate
// for the default strategy (at two to three times zlib's speed), through
// zlib for the others, which libdeflate does not have. One per thread.
class StripCoder {
public:
    StripCoder() = default;
    StripCoder(const StripCoder&) = delete;
    StripCoder& operator=(const StripCoder&) = delete;
    ~StripCoder() {
        if (Fast) libdeflate_free_compressor(Fast);
        if (ZStarted) deflateEnd(&Z);
        FreeVec(Scratch);
    }

    // level 0..9; strategy a zlib strategy; strip the largest strip's bytes.
    uint32_t init(int level, int strategy, size_t strip, bool scratch) {
        if (scratch && !(Scratch = static_cast<uint8_t*>(AllocVec(strip, MEMF_ANY)))) return KXERR_NOMEMORY;
        if (strategy == Z_DEFAULT_STRATEGY) {
            if (!(Fast = libdeflate_alloc_compressor(level))) return KXERR_NOMEMORY;
            Bound = libdeflate_zlib_compress_bound(Fast, strip);
            return KXERR_NONE;
        }
        memset(&Z, 0, sizeof(Z));
        const int rc = deflateInit2(&Z, level, Z_DEFLATED, 15, 9, strategy);
        if (rc == Z_MEM_ERROR) return KXERR_NOMEMORY;
        if (rc != Z_OK) return KXERR_ENCODE;
        ZStarted = true;
        Bound = deflateBound(&Z, (uLong)strip);
        return KXERR_NONE;
    }

    // Room one compressed strip may need.
    size_t bound() const { return Bound; }
    uint8_t* scratch() const { return Scratch; }

    // One strip into out (bound() bytes); its compressed length in *length.
    uint32_t compress(const uint8_t* in, size_t n, uint8_t* out, uint32_t* length) {
        if (Fast) {
            const size_t m = libdeflate_zlib_compress(Fast, in, n, out, Bound);
            if (!m) return KXERR_ENCODE;
            *length = (uint32_t)m;
            return KXERR_NONE;
        }
        if (deflateReset(&Z) != Z_OK) return KXERR_ENCODE;
        Z.next_in = const_cast<Bytef*>(in);
        Z.avail_in = (uInt)n;
        Z.next_out = out;
        Z.avail_out = (uInt)Bound;
        if (deflate(&Z, Z_FINISH) != Z_STREAM_END) return KXERR_ENCODE;
        *length = (uint32_t)Z.total_out;
        return KXERR_NONE;
    }

private:
    libdeflate_compressor* Fast = nullptr;
    z_stream Z;
    bool ZStarted = false;
    size_t Bound = 0;
    uint8_t* Scratch = nullptr;
};

// The strips of a picture: their layout, and writing them one after the
// other from a file offset on, recording where each went and how long it
// is. Compressed strips are made in batches on threads, each thread
// compressing a run of strips into its own room; the runs are then written
// in strip order, so the file is the same on any number of processors.
class StripWriter {
public:
    StripWriter(const RowSource& src, uint32_t height, uint32_t rowsPerStrip)
        : Src(src), Height(height), RowsPerStrip(rowsPerStrip),
          Count((height + rowsPerStrip - 1) / rowsPerStrip), Offsets(Count), Lengths(Count) {}

    uint32_t count() const { return Count; }
    const std::vector<uint32_t>& offsets() const { return Offsets; }
    const std::vector<uint32_t>& lengths() const { return Lengths; }

    // Uncompressed: the rows as they are (interleaved through one strip's
    // room when there is alpha).
    uint32_t writePlain(FILE* file, uint64_t* at) {
        KXByteWriter w(file);
        uint8_t* scratch = nullptr;
        if (Src.Alpha && !(scratch = static_cast<uint8_t*>(AllocVec(stripBytes(0), MEMF_ANY)))) return KXERR_NOMEMORY;
        uint32_t err = KXERR_NONE;
        for (uint32_t s = 0; s < Count && !err; ++s) {
            w.bytes(Src.rows(s * RowsPerStrip, rowsOf(s), scratch), stripBytes(s));
            if (!w.ok()) err = KXERR_IO;
            else if (!place(s, stripBytes(s), at)) err = KXERR_FILEREQUIREMENTS;
        }
        FreeVec(scratch);
        return err;
    }

    // Deflate, on as many threads as the process may use processors (a
    // picture of less than a run stays on the calling thread).
    uint32_t writeDeflate(FILE* file, int level, int strategy, uint64_t* at) {
        const size_t strip = stripBytes(0);
        const uint32_t perRun = strip >= kWorkBytes ? 1 : (uint32_t)(kWorkBytes / strip);
        const uint32_t runs = (Count + perRun - 1) / perRun;
        unsigned threads = processors();
        if (threads > runs) threads = runs;
        if (threads < 1) threads = 1;
        std::vector<Run> work(threads);
        for (Run& r : work) {
            if (uint32_t err = r.Coder.init(level, strategy, strip, Src.Alpha)) return err;
            uint32_t room = 0;
            if (uint32_t err = KXSUP_CheckSize(&room, (uint64_t)r.Coder.bound() * perRun)) return err;
            if (!(r.Room = static_cast<uint8_t*>(AllocVec(room, MEMF_ANY)))) return KXERR_NOMEMORY;
        }
        KXByteWriter w(file);
        const uint32_t batch = perRun * threads;
        for (uint32_t first = 0; first < Count; first += batch) {
            for (unsigned k = 0; k < threads; ++k) {
                work[k].First = std::min(Count, first + k * perRun);
                work[k].End = std::min(Count, work[k].First + perRun);
            }
            std::vector<std::thread> pool;
            std::vector<unsigned> leftOver;
            for (unsigned k = 1; k < threads; ++k) {
                if (work[k].First == work[k].End) continue;
                try {
                    pool.emplace_back([this, &work, k] { compressRun(work[k]); });
                } catch (...) {
                    leftOver.push_back(k);
                }
            }
            compressRun(work[0]);
            for (unsigned k : leftOver) compressRun(work[k]);
            for (std::thread& t : pool) t.join();
            for (Run& r : work) {
                if (r.Err) return r.Err;
                const uint8_t* out = r.Room;
                for (uint32_t s = r.First; s < r.End; ++s) {
                    const uint32_t n = Lengths[s];
                    w.bytes(out, n);
                    out += n;
                    if (!place(s, n, at)) return KXERR_FILEREQUIREMENTS;
                }
                if (!w.ok()) return KXERR_IO;
            }
        }
        return KXERR_NONE;
    }

private:
    struct Run {
        StripCoder Coder;
        uint8_t* Room = nullptr;
        uint32_t First = 0, End = 0;
        uint32_t Err = KXERR_NONE;
        ~Run() { FreeVec(Room); }
    };

    uint32_t rowsOf(uint32_t s) const { return std::min(RowsPerStrip, Height - s * RowsPerStrip); }
    size_t stripBytes(uint32_t s) const { return (size_t)rowsOf(s) * Src.RowBytes; }

    // Records strip s of n bytes at *at; false when it ends beyond 4 GiB,
    // which 32-bit offsets cannot reach.
    bool place(uint32_t s, uint64_t n, uint64_t* at) {
        if (*at + n > 0xFFFFFFFFull) return false;
        Offsets[s] = (uint32_t)*at;
        Lengths[s] = (uint32_t)n;
        *at += n;
        return true;
    }

    // The strips of one run, one after the other into the run's room.
    void compressRun(Run& r) {
        uint8_t* out = r.Room;
        for (uint32_t s = r.First; s < r.End && !r.Err; ++s) {
            const uint8_t* in = Src.rows(s * RowsPerStrip, rowsOf(s), r.Coder.scratch());
            r.Err = r.Coder.compress(in, stripBytes(s), out, &Lengths[s]);
            out += Lengths[s];
        }
    }

    RowSource Src;
    uint32_t Height, RowsPerStrip, Count;
    std::vector<uint32_t> Offsets, Lengths;
};

Item textItem(const char* text) {
    Item it;
    if (!text) return it;
    it.Data = reinterpret_cast<const uint8_t*>(text);
    it.Length = (uint32_t)strlen(text) + 1;
    return it;
}

}  // namespace

// The state of one save: the plan of the file, built step by step, then
// written in its order (header, colour map, strip tables, strips, data
// area, and the directory last, when every offset is known).
struct KXTiffSave {
    kxoTIFF& M;
    KX_GfxBuffer* b;
    uint32_t depth;
    Plan p;
    bool alpha16Big = false;  // a lent 16-bit map follows the buffer's (now big-endian) order
    ExifRelocation* relocation = nullptr;
    ExifRelocation relocationStore{nullptr, 0};
    uint32_t rowBytes = 0;
    uint32_t entries = 0;
    uint64_t dataStart = 0, tables = 0;

    KXTiffSave(kxoTIFF& m, KX_GfxBuffer* buffer) : M(m), b(buffer), depth(buffer->ColorDepth) {}

    // The depths the writer takes; 48-bit samples turned big-endian.
    uint32_t checkDepth() {
        if (!(depth >= 1 && depth <= 8) && depth != 24 && depth != 48) return KXERR_FILEREQUIREMENTS;
        if (depth == 48) return KXSUP_ConvertGfxBufferEndianess(b, KXENDIAN_BIG);
        return KXERR_NONE;
    }

    // The picture's alpha channel, fetched afresh: a map kept from an
    // earlier save belongs to another buffer.
    uint32_t fetchAlpha() {
        if (M.AlphaMap8Owned) FreeVec(M.AlphaMap8);
        if (M.AlphaMap16Owned) FreeVec(M.AlphaMap16);
        M.AlphaMap8 = nullptr;
        M.AlphaMap16 = nullptr;
        M.AlphaMap8Owned = M.AlphaMap16Owned = 0;
        if (p.palette) return KXERR_NONE;
        int allocated = 0;
        uint32_t err;
        if (depth == 24) {
            err = KXSUP_GetAlphaMap8(b, &M.AlphaMap8, &allocated, 1, 1);
            M.AlphaMap8Owned = allocated ? 1 : 0;
        } else {
            err = KXSUP_GetAlphaMap16(b, &M.AlphaMap16, &allocated, 1);
            M.AlphaMap16Owned = allocated ? 1 : 0;
            alpha16Big = !allocated;
        }
        if (err == KXERR_NOMEMORY) return KXERR_NOMEMORY;
        p.alpha = M.AlphaMap8 != nullptr || M.AlphaMap16 != nullptr;
        return KXERR_NONE;
    }

    // The subtype's directory: a new-subfile entry and where EXIF points.
    void chooseSubtype(uint32_t subtype) {
        if (subtype <= 2) kLog.line(1, "%s", "Filetype");
        p.newSubfile = subtype == 1 || subtype == 2;
        p.exifTag = subtype == 1 ? 34665 : subtype == 2 ? 330 : 0;
        p.deflate = M.keyIs("WRITE_DEFLATE", "ON");
    }

    // The IPTC records (without their Photoshop header), XMP and ICC.
    void takePackets(const KXOSpecialInfo* info) {
        kLog.line(2, "%s - '%s'", "Checking Metadata", "for EXIF, IPTC, ICCP");
        const uint32_t headerSize = (uint32_t)sizeof(Ps3IptcHeader);
        if (info->Iptc && info->IptcSize > headerSize) {
            p.iptc.Data = info->Iptc + headerSize;
            p.iptc.Length = info->IptcSize - headerSize;
            p.iptc.Padding = (4 - p.iptc.Length % 4) % 4;
        }
        // Each packet with its own size; one without a size is not there.
        // The size counts the packet's bytes only; a zero a packet may still
        // be kept with ends it here, so the file holds the packet alone,
        // wherever the record came from.
        if (info->Xmp0 && info->Xmp0Size) {
            p.xmp.Data = info->Xmp0;
            p.xmp.Length = info->Xmp0Size;
        } else if (info->Xmp1 && info->Xmp1Size) {
            p.xmp.Data = info->Xmp1;
            p.xmp.Length = info->Xmp1Size;
        }
        if (const void* zero = p.xmp.present() ? memchr(p.xmp.Data, 0, p.xmp.Length) : nullptr)
            p.xmp.Length = (uint32_t)(static_cast<const uint8_t*>(zero) - p.xmp.Data);
        if (!p.xmp.Length) p.xmp.Data = nullptr;
        if (info->IccData && info->IccSize) {
            p.icc.Data = info->IccData;
            p.icc.Length = info->IccSize;
        }
    }

    // The four texts and the orientation.
    void takeTexts(const KXOSpecialInfo* info) {
        // A text the written IPTC records carry is left to them: the reader
        // takes it from there, and the file holds each value once.
        bool carried[KXMETATEXT_COUNT];
        KX_MetaTextsCarried(info, false, p.iptc.present(), carried);
        const char* texts[4] = {info->Copy, info->Auth, info->Anno, info->Name};
        const uint32_t fields[4] = {KXMETATEXT_COPY, KXMETATEXT_AUTH, KXMETATEXT_ANNO, KXMETATEXT_NAME};
        for (int i = 0; i < 4; ++i)
            if (!carried[fields[i]]) p.texts[i] = textItem(texts[i]);
        if (info->Orientation >= 1 && info->Orientation <= 8) p.orientation = info->Orientation;
    }

    // The EXIF directories go in little-endian, as the relocation takes
    // them: a big-endian block is turned through libexif first. Without the
    // tags the main directory holds itself.
    uint32_t takeExif(const KXOSpecialInfo* info) {
        const uint8_t* order = info->Exif + 6;
        if (order[0] == 'I' && order[1] == 'I') {
            M.ExifCopy = static_cast<uint8_t*>(AllocVec(info->ExifSize, MEMF_ANY));
            if (!M.ExifCopy) return KXERR_NOMEMORY;
            memcpy(M.ExifCopy, info->Exif, info->ExifSize);
            M.ExifCopySize = info->ExifSize;
        } else if (order[0] == 'M' && order[1] == 'M') {
            const uint32_t turned = KX_ExifWithByteOrder(info->Exif, info->ExifSize, true, &M.ExifCopy, &M.ExifCopySize);
            if (turned == KXERR_NOMEMORY) return turned;
            if (turned) kLog.line(2, "%s", "EXIF block could not be turned little-endian: not written");
        }
        if (M.ExifCopy) {
            static const uint16_t textTags[4] = {33432, 315, 270, 269};
            std::vector<uint16_t> own;
            for (int i = 0; i < 4; ++i)
                if (p.texts[i].present()) own.push_back(textTags[i]);
            if (p.orientation) own.push_back(274);
            dropEntries(M.ExifCopy, M.ExifCopySize, own);
            relocationStore = ExifRelocation(M.ExifCopy, M.ExifCopySize);
            if (relocationStore.collect()) {
                relocation = &relocationStore;
                p.exif.Data = M.ExifCopy + 14;
                p.exif.Length = M.ExifCopySize - 14;
            } else {
                kLog.line(2, "%s", "EXIF directories do not fit their block: not written");
            }
        }
        return KXERR_NONE;
    }

    // The strips: rows packed as the buffer holds them (with alpha
    // interleaved), about 8 KB of rows each.
    uint32_t measureRows(RowSource* source) {
        const uint32_t sampleBytes = p.bits / 8;
        const uint32_t samples = p.palette ? 1 : (p.alpha ? 4 : 3);
        if (uint32_t err = KXSUP_CheckSize(&rowBytes, p.width, samples, sampleBytes)) return err;
        p.rowsPerStrip = std::max<uint32_t>(1, std::min<uint32_t>(p.height, kStripBytes / rowBytes));
        source->Data = b->Data;
        source->Width = p.width;
        source->RowBytes = rowBytes;
        source->Alpha = p.alpha;
        source->Alpha8 = M.AlphaMap8;
        source->Alpha16 = M.AlphaMap16;
        source->Alpha16Big = alpha16Big;
        return KXERR_NONE;
    }

    // Offsets: the directory first, then the data area in its order, the
    // strip tables before the strips. The offset the strips start at.
    uint64_t layOut() {
        entries = (uint32_t)buildEntries(p).size();
        dataStart = 14 + 12ull * entries;
        uint64_t at = dataStart;
        if (p.palette) {
            p.colourMapOffset = (uint32_t)at;
            at += 1536;
        }
        tables = p.strips > 1 ? 8ull * p.strips : 0;
        if (tables) {
            p.offsetTable = (uint32_t)at;
            p.lengthTable = (uint32_t)(at + 4ull * p.strips);
            at += tables;
        }
        return at;
    }

    // The header, room for the directory, the colour map and room for the
    // strip tables.
    uint32_t writeHead(FILE* file) {
        KXByteWriter w(file);
        w.bytes("MM", 2);
        w.be16(42);
        w.be32(8);
        w.zeros(dataStart - 8);
        if (p.palette) {
            // 8-bit palette values in the high byte; entries past 2^depth are 0.
            const uint32_t colours = 1u << depth;
            for (int c = 0; c < 3; ++c)
                for (uint32_t i = 0; i < 256; ++i) w.be16(i < colours ? (uint16_t)(b->Palette[i * 3 + c] << 8) : 0);
        }
        if (tables) w.zeros(tables);
        return w.ok() ? KXERR_NONE : KXERR_IO;
    }

    // The strips, Deflate with the settings' level and strategy or plain.
    uint32_t writeStrips(StripWriter& strips, FILE* file, uint64_t* at) {
        long level = M.keyNumber("Z_COMPRESSION", 6);
        if (level < 0 || level > 9) level = 6;
        long strategy = M.keyNumber("Z_STRATEGY", 0);
        if (strategy < 0 || strategy > 3) strategy = 0;
        static const int strategies[4] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE};
        if (p.deflate) return strips.writeDeflate(file, (int)level, strategies[strategy], at);
        return strips.writePlain(file, at);
    }

    // Each item of the data area where the ones before it end.
    uint32_t placeItems(StripWriter& strips, uint64_t at) {
        p.stripOffset = strips.offsets()[0];
        p.stripLength = strips.lengths()[0];
        Item* order[] = {&p.xmp, &p.iptc, &p.icc, &p.exif, &p.texts[0], &p.texts[1], &p.texts[2], &p.texts[3]};
        for (Item* it : order) {
            it->Offset = (uint32_t)at;
            at += it->room();
        }
        p.exifOffset = p.exif.Offset;
        return at > 0xFFFFFFFFull ? KXERR_FILEREQUIREMENTS : KXERR_NONE;
    }

    // The data area, then the directory and the strip tables, now that
    // every offset is known.
    uint32_t writeTail(StripWriter& strips, FILE* file) {
        uint32_t err = KXERR_NONE;
        if (p.xmp.present()) kLog.line(2, "%s - '%s'", "Saving Metadata", "XMP");
        if (p.iptc.present()) kLog.line(2, "%s - '%s'", "Saving Metadata", "IPTC");
        if (p.icc.present()) kLog.line(2, "%s - '%s'", "Saving Metadata", "ICCP");
        if (p.exif.present() && !p.palette) kLog.line(2, "%s - '%s'", "Saving Metadata", "EXIF");
        if (relocation && p.exif.present()) relocation->apply(p.exifOffset);
        KXByteWriter d(file);
        const Item* order[] = {&p.xmp, &p.iptc, &p.icc, &p.exif, &p.texts[0], &p.texts[1], &p.texts[2], &p.texts[3]};
        for (const Item* it : order) {
            if (!it->room()) continue;
            d.bytes(it->Data, it->Length);
            d.zeros(it->Padding);
        }
        const std::vector<Entry> list = buildEntries(p);
        if (fseeko(file, 8, SEEK_SET) != 0) err = KXERR_IO;
        KXByteWriter ifd(file);
        ifd.be16((uint16_t)list.size());
        for (const Entry& e : list) writeEntry(ifd, e);
        ifd.be32(0);
        if (!err && tables && fseeko(file, p.offsetTable, SEEK_SET) != 0) err = KXERR_IO;
        if (!err && tables) {
            for (uint32_t v : strips.offsets()) ifd.be32(v);
            for (uint32_t v : strips.lengths()) ifd.be32(v);
        }
        if (!err && (!d.ok() || !ifd.ok() || list.size() != entries)) err = KXERR_IO;
        return err;
    }
};

uint32_t kxoTIFF::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KXTiffSave s(*this, SaveBuffer);
    if ((err = s.checkDepth()) != KXERR_NONE) return err;
    Plan& p = s.p;
    p.palette = s.depth <= 8;
    p.width = s.b->Width;
    p.height = s.b->Height;
    p.bits = s.depth == 48 ? 16 : 8;
    if ((err = s.fetchAlpha()) != KXERR_NONE) return err;

    const uint32_t subtype = SelectedSubFormat;
    s.chooseSubtype(subtype);
    const KXOSpecialInfo* info = SpecialInfo;
    const bool blocks = info && subtype != 0 && info->Version != 0;
    FreeVec(ExifCopy);
    ExifCopy = nullptr;
    ExifCopySize = 0;
    if (blocks) s.takePackets(info);
    if (info) s.takeTexts(info);
    if (blocks && !keyIs("WRITE_EXIF", "OFF") && p.exifTag && info->Exif && info->ExifSize > 14 &&
        (err = s.takeExif(info)) != KXERR_NONE)
        return err;

    RowSource source;
    if ((err = s.measureRows(&source)) != KXERR_NONE) return err;
    StripWriter strips(source, p.height, p.rowsPerStrip);
    p.strips = strips.count();
    uint64_t at = s.layOut();
    // Every offset is 32 bits: uncompressed strips that cannot end below
    // 4 GiB are refused before anything is written.
    if (!p.deflate && at + (uint64_t)s.rowBytes * p.height > 0xFFFFFFFFull) return KXERR_FILEREQUIREMENTS;

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    err = s.writeHead(WriteFile);
    if (!err) err = s.writeStrips(strips, WriteFile, &at);
    if (!err) err = s.placeItems(strips, at);
    if (!err) err = s.writeTail(strips, WriteFile);
    return KXF_EndSave(this, &sf, err);
}
