// Hexadecimal text of binary data and back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/gfxbuffer.h"
#include "core/memory.h"

TEST(HexText, LineFeedEvery36Bytes) {
    struct Row {
        uint32_t count;
        std::string expected;
    } rows[] = {
        {0, "\n"},
        {2, "00ff\n"},
        {36, std::string(72, '0') + "\n"},
        {37, std::string(72, '0') + "\n00\n"},
        {73, std::string(72, '0') + "\n" + std::string(72, '0') + "\n00\n"},
    };
    for (const Row& r : rows) {
        std::vector<uint8_t> data(r.count ? r.count : 1, 0);
        if (r.count == 2) data = {0x00, 0xFF};
        char* text = nullptr;
        uint32_t size = 0;
        ASSERT_EQ(KXSUP_BinToHex(data.data(), &text, r.count, &size), KXERR_NONE) << r.count;
        EXPECT_EQ(std::string(text), r.expected) << r.count;
        EXPECT_EQ(size, r.expected.size());
        FreeVec(text);
    }
}

TEST(HexText, BinToHexStopsAtTheEndOfAGivenText) {
    const uint8_t data[3] = {1, 2, 3};
    struct Row {
        uint32_t room, err;
    } rows[] = {{8, KXERR_NONE}, {7, KXERR_ENCODE}, {6, KXERR_ENCODE}, {2, KXERR_ENCODE}};
    for (const Row& r : rows) {
        std::vector<char> buffer(r.room + 4, '#');
        char* text = buffer.data();
        uint32_t size = r.room;
        EXPECT_EQ(KXSUP_BinToHex(data, &text, 3, &size), r.err) << r.room;
        EXPECT_EQ(buffer[r.room], '#') << r.room;  // nothing past the room
        if (!r.err) {
            EXPECT_EQ(std::string(text), "010203\n");
        }
    }
}

TEST(HexText, HexToBinDecodes) {
    struct Row {
        const char* text;
        uint32_t count;
        std::vector<uint8_t> expected;
    } rows[] = {
        {"0a FF", 2, {0x0A, 0xFF}},
        {"0aFF", 2, {0x0A, 0xFF}},
        {"0a\n1B-2c", 3, {0x0A, 0x1B, 0x2C}},
        {"0a1b2c", 2, {0x0A, 0x1B}},
        {"0a1", 4, {0x0A}},  // text ends first: stop there
        {"", 4, {}},
        {"zz", 1, {}},
    };
    for (const Row& r : rows) {
        uint8_t* data = nullptr;
        uint32_t size = 99;
        ASSERT_EQ(KXSUP_HexToBin(r.text, &data, r.count, &size), KXERR_NONE) << r.text;
        EXPECT_EQ(std::vector<uint8_t>(data, data + size), r.expected) << r.text;
        FreeVec(data);
    }
}

TEST(HexText, HexToBinInPlaceAndIntoAGivenBuffer) {
    char text[] = "de ad\nbe ef";
    uint8_t* data = reinterpret_cast<uint8_t*>(text);
    uint32_t size = sizeof(text);
    ASSERT_EQ(KXSUP_HexToBin(text, &data, 4, &size), KXERR_NONE);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::vector<uint8_t>(data, data + 4), (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));

    uint8_t small[2] = {};
    data = small;
    size = 2;
    EXPECT_EQ(KXSUP_HexToBin("010203", &data, 3, &size), KXERR_DECODE);
    EXPECT_EQ(KXSUP_HexToBin(nullptr, &data, 3, &size), KXERR_INTERNALACCESS);
}

TEST(HexText, RoundTripAcrossLines) {
    std::vector<uint8_t> data(100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 37 + 11);
    char* text = nullptr;
    uint32_t textSize = 0;
    ASSERT_EQ(KXSUP_BinToHex(data.data(), &text, uint32_t(data.size()), &textSize), KXERR_NONE);
    uint8_t* back = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(KXSUP_HexToBin(text, &back, uint32_t(data.size()), &size), KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(back, back + size), data);
    FreeVec(text);
    FreeVec(back);
}
