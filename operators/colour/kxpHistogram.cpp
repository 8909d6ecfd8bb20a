// kxpHistogram: brightness bar chart or colour regrouping (see the
// header). Colours are counted in one pass with an open-addressing hash
// table that keeps their order of first appearance (black always first);
// the entries then go through a work file in the library's temporary
// directory ("histogram_<instance>_<run>.txt"), are read back, sorted by
// luminance with a stable counting sort and written back as runs.
// Progress: brightness counting 0 to 99 every 32 pixels; colour counting
// 0 to 66 every 16 pixels, the write-back 66 to 99 every 4 entries.
// Relies on the operator frame, the core's safe save and its log.
#include "kxpHistogram.h"

#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <cstdarg>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "operators/geometry/kxpRows.h"

namespace {

// Paths are held in fields of 260 characters, the terminator included.
constexpr size_t kPathField = 260;
constexpr size_t kStreamBuffer = 32768;

uint8_t Level24(const uint8_t* p) { return static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3); }
uint8_t Level48(const uint8_t* p) { return static_cast<uint8_t>((p[1] + p[3] + p[5]) / 3); }

struct Entry {
    uint16_t R, G, B;
    uint32_t Count;
};

// Luminance of an entry on 8-bit values (the high bytes of 16-bit ones).
inline uint32_t Luminance(const Entry& e, bool wide)
{
    const uint32_t s = wide ? 8 : 0;
    return ((e.R >> s) * 30 + (e.G >> s) * 59 + (e.B >> s) * 11) / 100;
}

// Colour -> count, with the colours in order of first appearance. A slot
// holds its colour (top bit set when in use) beside its count, so a pixel
// touches one cache line; 24-bit colours take 8-byte slots.
template <class K>
class ColourCounts {
public:
    ColourCounts() { Grow(1u << 12); }

    // The count of the colour, made 0 when new.
    uint32_t& Find(K colour)
    {
        const K key = colour | kUsed;
        size_t i = Hash(key);
        while (Slots[i].Key) {
            if (Slots[i].Key == key) return Slots[i].Count;
            i = (i + 1) & Mask;
        }
        Order.push_back(colour);
        Slots[i] = SlotT{key, 0};
        if (Order.size() * 2 > Slots.size()) {
            Grow(Slots.size() * 2);
            return Find(colour);
        }
        return Slots[i].Count;
    }
    std::vector<K> Order;

private:
    static constexpr K kUsed = K(1) << (sizeof(K) * 8 - 1);
    struct SlotT {
        K Key = 0;
        uint32_t Count = 0;
    };
    size_t Hash(K key) const { return static_cast<size_t>((uint64_t(key) * 0x9E3779B97F4A7C15ull) >> Shift) & Mask; }
    void Grow(size_t size)
    {
        std::vector<SlotT> old;
        old.swap(Slots);
        Slots.assign(size, SlotT{});
        Mask = size - 1;
        Shift = 64 - static_cast<uint32_t>(__builtin_ctzll(size));
        for (const SlotT& s : old) {
            if (!s.Key) continue;
            size_t i = Hash(s.Key);
            while (Slots[i].Key) i = (i + 1) & Mask;
            Slots[i] = s;
        }
    }
    std::vector<SlotT> Slots;
    size_t Mask = 0;
    uint32_t Shift = 64;
};

// Counts the colours of a picture into entries in order of first
// appearance, black first.
template <class Key, uint32_t B>
void CountColours(const KX_GfxBuffer* work, std::vector<Entry>& entries, const std::function<void(uint32_t)>& rowStart)
{
    ColourCounts<Key> counts;
    counts.Find(0);  // black is always the first entry
    Key last = 0;
    uint32_t* count = &counts.Find(0);
    const uint32_t w = work->Width, h = work->Height;
    for (uint32_t y = 0; y < h; ++y) {
        rowStart(y);
        const uint8_t* p = work->Data + size_t(y) * w * 3 * B;
        for (uint32_t x = 0; x < w; ++x, p += 3 * B) {
            Key key;
            if constexpr (B == 1) {
                key = Key(p[0]) << 16 | Key(p[1]) << 8 | p[2];
            } else {
                uint16_t s[3];
                std::memcpy(s, p, 6);
                key = Key(s[0]) << 32 | Key(s[1]) << 16 | s[2];
            }
            // Runs of one colour skip the table.
            if (key != last) {
                count = &counts.Find(key);
                last = key;
            }
            ++*count;
        }
    }
    entries.reserve(counts.Order.size());
    constexpr uint32_t bits = 8 * B;
    constexpr Key mask = (Key(1) << bits) - 1;
    for (Key c : counts.Order)
        entries.push_back({uint16_t(c >> 2 * bits), uint16_t((c >> bits) & mask), uint16_t(c & mask), counts.Find(c)});
}

// The scale of the bars: the mean of the four largest distinct counts,
// brought down to a lower one while it dwarfs that one.
uint64_t BarScale(const uint32_t* counts)
{
    uint64_t m[4] = {};
    for (uint32_t k = 0; k < 4; ++k) {
        const uint64_t above = k ? m[k - 1] : UINT64_MAX;
        for (int i = 0; i < 256; ++i)
            if (counts[i] < above && counts[i] > m[k]) m[k] = counts[i];
    }
    uint64_t s = (m[0] + m[1] + m[2] + m[3]) / 4;
    if (s > 2 * m[1]) s = m[1];
    if (s > 4 * m[2]) s = m[2];
    if (s > 8 * m[3]) s = m[3];
    return s ? s : 1;
}

bool FitsField(const char* path) { return strlen(path) < kPathField; }

// Writes a report through the safe save; 30 when it cannot be written.
template <class Lines>
uint32_t WriteReport(const char* path, Lines lines)
{
    if (!FitsField(path)) return KXERR_IO;
    KXSafeFile sf;
    FILE* f = KXSUP_SafeOpen(&sf, path);
    if (!f) return KXERR_IO;
    setvbuf(f, nullptr, _IOFBF, kStreamBuffer);
    const bool ok = lines(f);
    return KXSUP_SafeCommit(&sf, ok);
}

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

}  // namespace

void kxpHistogram::Note(uint32_t level, const char* format, ...)
{
    if (!Log) return;
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    Log->Log(level, "%-16s: %s", "histogram", line);
}

uint32_t kxpHistogram::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work);
    if (err) return err;
    if ((err = MakeHostOrder(work))) return err;

    KXPKeyReader anyCase(this, true), exact(this, false);
    static const char* const modes[] = {"BRIGHTNESS", "COLOR"};
    const bool colours = anyCase.Word("MODE", modes, 2, 0) == 1;
    const char* report = exact.Text("HISTOGRAM_PATH");
    if (report && !*report) report = nullptr;
    if (colours) err = Colours(work, report);
    else err = Brightness(work, report, exact.Long("WIDTH", 100), anyCase.HexColor("BACKCOLOR_VALUE", 0), anyCase.HexColor("FORECOLOR_VALUE", 0xFFFFFF));
    if (err) return err;
    *result = Result;
    return KXERR_NONE;
}

uint32_t kxpHistogram::Brightness(const KX_GfxBuffer* work, const char* report, int32_t width, uint32_t back, uint32_t fore)
{
    // No chart narrower than a pixel, and none whose size leaves 32 bits.
    uint32_t size = 0;
    if (width <= 0 || !KXSUP_CheckedSize(&size, uint32_t(width), 256)) return KXERR_NOMEMORY;
    uint32_t err = NewResult(work);
    if (err) return err;
    KX_GfxBuffer* r = Result;
    const uint32_t w = uint32_t(width);
    r->Width = w;
    r->Height = 256;
    r->ColorDepth = 1;
    r->PixelBits = 8;
    r->NativeDIPF = 0;
    r->BufferSize = size;
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(size, MEMF_CLEAR)))) return KXERR_NOMEMORY;
    for (uint32_t c = 0; c < 3; ++c) {
        r->Palette[c] = static_cast<uint8_t>(back >> (16 - 8 * c));
        r->Palette[3 + c] = static_cast<uint8_t>(fore >> (16 - 8 * c));
    }
    if (work->ColorDepth == 48) KXSUP_SetGfxBufferEndianess(r, KXSUP_GetGfxBufferFlags(work));

    // Four interleaved tables: neighbouring pixels of one level do not wait on each other.
    uint32_t part[4][256] = {};
    const uint32_t pw = work->Width, ph = work->Height, bpp = KXP_BytesPerPixel(work);
    const uint64_t pixels = uint64_t(pw) * ph;
    for (uint32_t y = 0; y < ph; ++y) {
        if (ProgressHook)
            for (uint64_t k = (uint64_t(y) * pw + 31) & ~uint64_t(31); k < uint64_t(y + 1) * pw; k += 32) ReportProgress(uint32_t(k * 100 / pixels));
        const uint8_t* p = Row(work, y, bpp);
        if (bpp == 3)
            for (uint32_t x = 0; x < pw; ++x, p += 3) part[x & 3][Level24(p)]++;
        else
            for (uint32_t x = 0; x < pw; ++x, p += 6) part[x & 3][Level48(p)]++;
    }
    uint32_t counts[256];
    for (int i = 0; i < 256; ++i) counts[i] = part[0][i] + part[1][i] + part[2][i] + part[3][i];

    if (report && (err = WriteReport(report, [&](FILE* f) {
                       for (int i = 0; i < 256; ++i)
                           if (fprintf(f, "$%03x: %" PRIu32 "\n", i, counts[i]) < 0) return false;
                       return true;
                   })))
        return err;

    const uint64_t s = BarScale(counts);
    for (uint32_t k = 0; k < 256; ++k) {
        const uint64_t bar = uint64_t(w) * counts[k] / s;
        std::memset(r->Data + size_t(k) * w, 1, bar < w ? size_t(bar) : w);
    }
    return KXERR_NONE;
}

uint32_t kxpHistogram::Colours(const KX_GfxBuffer* work, const char* report)
{
    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);
    const bool wide = bpp == 6;
    const uint64_t pixels = uint64_t(w) * h;
    Note(2, "histogram %ldx%ld - %ld\n", long(w), long(h), long(pixels));

    // The work file's name: the library's temporary directory and instance.
    static std::atomic<uint32_t> runs{0};
    const char* temp = Lib && Lib->TempDir ? Lib->TempDir : KX_GetProcessTempDir();
    const uint32_t instance = Lib ? Lib->InstanceId : KX_GetProcessInstanceId();
    char workName[kPathField];
    const unsigned long run = (static_cast<unsigned long>(getpid()) << 12) ^ runs.fetch_add(1);
    const int n = snprintf(workName, sizeof workName, "%shistogram_%lx_%lx.txt", temp, static_cast<unsigned long>(instance), run);
    if (n < 0 || size_t(n) >= sizeof workName) return KXERR_IO;

    std::vector<Entry> entries;
    uint64_t black = 0;
    const std::function<void(uint32_t)> rowStart = [&](uint32_t y) {
        if (ProgressHook)
            for (uint64_t k = (uint64_t(y) * w + 15) & ~uint64_t(15); k < uint64_t(y + 1) * w; k += 16) ReportProgress(uint32_t(k * 66 / pixels));
    };
    try {
        if (wide) CountColours<uint64_t, 2>(work, entries, rowStart);
        else CountColours<uint32_t, 1>(work, entries, rowStart);
    } catch (const std::bad_alloc&) {
        return KXERR_NOMEMORY;
    }
    black = entries[0].Count;
    Note(9, "histogram IN > $000000 - %ld\n", long(black));

    // Through the work file: written in order of appearance, read back, deleted.
    const size_t entryBytes = wide ? 12 : 8;
    {
        std::unique_ptr<FILE, FileCloser> f(fopen(workName, "wbx"));
        if (!f) return KXERR_IO;
        setvbuf(f.get(), nullptr, _IOFBF, kStreamBuffer);
        bool ok = true;
        for (const Entry& e : entries) {
            uint8_t rec[12] = {};
            if (wide) {
                std::memcpy(rec, &e.R, 2), std::memcpy(rec + 2, &e.G, 2), std::memcpy(rec + 4, &e.B, 2);
            } else {
                rec[0] = uint8_t(e.R), rec[1] = uint8_t(e.G), rec[2] = uint8_t(e.B);
            }
            std::memcpy(rec + entryBytes - 4, &e.Count, 4);
            ok = ok && fwrite(rec, entryBytes, 1, f.get()) == 1;
        }
        if (fflush(f.get()) != 0 || !ok) {
            f.reset();
            unlink(workName);
            return KXERR_IO;
        }
    }
    const size_t written = entries.size();
    std::vector<Entry>().swap(entries);
    uint64_t readCount = 0;
    {
        std::unique_ptr<FILE, FileCloser> f(fopen(workName, "rb"));
        if (!f) {
            unlink(workName);
            return KXERR_IO;
        }
        setvbuf(f.get(), nullptr, _IOFBF, kStreamBuffer);
        long size = -1;
        if (fseek(f.get(), 0, SEEK_END) == 0) size = ftell(f.get());
        rewind(f.get());
        const size_t count = size > 0 ? size_t(size) / entryBytes : 0;
        if (count != written) {
            f.reset();
            unlink(workName);
            return KXERR_IO;
        }
        try {
            entries.resize(count);
        } catch (const std::bad_alloc&) {
            f.reset();
            unlink(workName);
            return KXERR_NOMEMORY;
        }
        for (Entry& e : entries) {
            uint8_t rec[12];
            if (fread(rec, entryBytes, 1, f.get()) != 1) break;
            if (wide) {
                std::memcpy(&e.R, rec, 2), std::memcpy(&e.G, rec + 2, 2), std::memcpy(&e.B, rec + 4, 2);
            } else {
                e.R = rec[0], e.G = rec[1], e.B = rec[2];
            }
            std::memcpy(&e.Count, rec + entryBytes - 4, 4);
            readCount += e.Count;
        }
    }
    unlink(workName);
    Note(9, "histogram different colors: %ld \n", long(entries.size()));
    Note(9, "histogram read...\n");
    // What comes back must be what went in, or the runs would not fill the picture.
    if (readCount != pixels) return KXERR_IO;

    // Stable counting sort by luminance: equal ones keep their order of appearance.
    Note(9, "histogram sort...\n");
    std::vector<Entry> sorted;
    try {
        sorted.resize(entries.size());
    } catch (const std::bad_alloc&) {
        return KXERR_NOMEMORY;
    }
    size_t start[257] = {};
    for (const Entry& e : entries) start[Luminance(e, wide) + 1]++;
    for (int i = 0; i < 256; ++i) start[i + 1] += start[i];
    for (const Entry& e : entries) sorted[start[Luminance(e, wide)]++] = e;
    std::vector<Entry>().swap(entries);

    uint32_t err;
    if (report && (err = WriteReport(report, [&](FILE* f) {
                       for (const Entry& e : sorted)
                           if (fprintf(f, "$%02x%02x%02x: %" PRIu32 "\n", e.R, e.G, e.B, e.Count) < 0) return false;
                       return true;
                   })))
        return err;

    if ((err = NewSameSizeResult(work))) return err;
    KX_GfxBuffer* r = Result;
    uint8_t* out = r->Data;
    uint64_t done = 0;
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (ProgressHook && (i & 3) == 0) ReportProgress(uint32_t(66 + uint64_t(i) * 33 / sorted.size()));
        const Entry& e = sorted[i];
        uint8_t pixel[6];
        if (wide) std::memcpy(pixel, &e.R, 2), std::memcpy(pixel + 2, &e.G, 2), std::memcpy(pixel + 4, &e.B, 2);
        else pixel[0] = uint8_t(e.R), pixel[1] = uint8_t(e.G), pixel[2] = uint8_t(e.B);
        kxp_rows::FillPixels(out + done * bpp, pixel, e.Count, bpp);
        done += e.Count;
    }
    Note(9, "histogram TCount vs TNCount vs. TTCount = %ld vs %ld vs %ld (ce_i = %ld)\n", long(pixels), long(readCount), long(done),
         long(sorted.size()));
    MarkResult(r, work, work, 0);
    return KXERR_NONE;
}
