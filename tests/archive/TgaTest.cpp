#include <gtest/gtest.h>

#include "archive/Tga.h"
#include "platform/ByteIO.h"

using namespace nb;

namespace {

struct TgaHeader {
    uint8_t idLength = 0, colourMapType = 0, type = 2;
    uint16_t width = 2, height = 2;
    uint8_t bits = 32, descriptor = 0;
};

std::vector<uint8_t> tga(const TgaHeader& h, const std::vector<uint8_t>& body) {
    ByteWriter w;
    w.u8(h.idLength);
    w.u8(h.colourMapType);
    w.u8(h.type);
    for (int i = 0; i < 9; ++i) w.u8(0);
    w.u16(h.width);
    w.u16(h.height);
    w.u8(h.bits);
    w.u8(h.descriptor);
    for (int i = 0; i < h.idLength; ++i) w.u8(0xEE);
    w.bytes(body.data(), body.size());
    return w.buffer();
}

// Stored pixel bytes (B, G, R, A) of a 0xAARRGGBB colour.
void px(std::vector<uint8_t>& v, uint32_t argb, int bytes) {
    for (int i = 0; i < bytes; ++i) v.push_back(uint8_t(argb >> (8 * i)));
}

bool decode(const std::vector<uint8_t>& file, Bitmap& out) { return DecodeTga(file.data(), file.size(), out); }

const uint32_t A = 0x11223344, B = 0x55667788, C = 0x99AABBCC, D = 0xDDEEFF00;

}  // namespace

TEST(Tga, RowOrderMirrorAndDepth) {
    // Stored order A B / C D. Bottom-up by default: the stored first row is
    // the picture's bottom row.
    std::vector<uint8_t> body;
    for (uint32_t c : {A, B, C, D}) px(body, c, 4);
    Bitmap bmp;
    ASSERT_TRUE(decode(tga({}, body), bmp));
    EXPECT_EQ(bmp.bitsPerPixel, 32);
    EXPECT_EQ(bmp.argb(0, 0), C);
    EXPECT_EQ(bmp.argb(1, 0), D);
    EXPECT_EQ(bmp.argb(0, 1), A);

    TgaHeader topDown;
    topDown.descriptor = 0x20;
    ASSERT_TRUE(decode(tga(topDown, body), bmp));
    EXPECT_EQ(bmp.argb(0, 0), A);
    EXPECT_EQ(bmp.argb(1, 1), D);

    TgaHeader mirrored;
    mirrored.descriptor = 0x30;
    mirrored.idLength = 5;  // skipped
    ASSERT_TRUE(decode(tga(mirrored, body), bmp));
    EXPECT_EQ(bmp.argb(0, 0), B);
    EXPECT_EQ(bmp.argb(1, 0), A);
    EXPECT_EQ(bmp.argb(0, 1), D);

    // 24 bits: a 24-bit bitmap whose pixels read as opaque.
    TgaHeader rgb;
    rgb.bits = 24;
    rgb.width = 3;
    rgb.height = 1;
    std::vector<uint8_t> body24;
    for (uint32_t c : {A, B, C}) px(body24, c, 3);
    ASSERT_TRUE(decode(tga(rgb, body24), bmp));
    EXPECT_EQ(bmp.bitsPerPixel, 24);
    EXPECT_EQ(bmp.argb(2, 0), 0xFF000000u | (C & 0xFFFFFF));
}

TEST(Tga, RunLengthPacketsAreCutAtTheImageEnd) {
    TgaHeader h;
    h.type = 10;
    h.width = 3;
    h.height = 2;
    h.descriptor = 0x20;
    // A run of 2, literals of 2, then a run of 5 of which only 2 fit.
    std::vector<uint8_t> body = {0x81};
    px(body, A, 4);
    body.push_back(0x01);
    px(body, B, 4);
    px(body, C, 4);
    body.push_back(0x84);
    px(body, D, 4);
    Bitmap bmp;
    ASSERT_TRUE(decode(tga(h, body), bmp));
    const uint32_t expect[6] = {A, A, B, C, D, D};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(bmp.argb(i % 3, i / 3), expect[i]) << i;

    // A literal packet longer than what is left needs only the pixels that
    // fit: the file may end right after them.
    std::vector<uint8_t> lit = {0x05};
    for (uint32_t c : {A, B, C, D, A, B}) px(lit, c, 4);
    std::vector<uint8_t> cut = {0x07};
    for (uint32_t c : {A, B, C, D, A, B}) px(cut, c, 4);
    ASSERT_TRUE(decode(tga(h, cut), bmp));
    EXPECT_EQ(bmp.argb(2, 1), B);

    // 24-bit RLE.
    TgaHeader h24 = h;
    h24.bits = 24;
    std::vector<uint8_t> body24 = {0x85};
    px(body24, C, 3);
    ASSERT_TRUE(decode(tga(h24, body24), bmp));
    EXPECT_EQ(bmp.argb(1, 1), 0xFF000000u | (C & 0xFFFFFF));

    // Every shorter file fails: the image is never left partly filled.
    for (const auto& [hdr, data] : {std::pair{h, body}, std::pair{h, lit}, std::pair{h24, body24}}) {
        std::vector<uint8_t> file = tga(hdr, data);
        for (size_t n = 0; n < file.size(); ++n) EXPECT_FALSE(DecodeTga(file.data(), n, bmp)) << n;
    }
}

TEST(Tga, HeadersThePlayerDoesNotRead) {
    std::vector<uint8_t> body;
    for (uint32_t c : {A, B, C, D}) px(body, c, 4);
    auto with = [](auto change) {
        TgaHeader h;
        change(h);
        return h;
    };
    const TgaHeader bad[] = {
        with([](TgaHeader& h) { h.colourMapType = 1; }),
        with([](TgaHeader& h) { h.type = 1; }),
        with([](TgaHeader& h) { h.type = 3; }),
        with([](TgaHeader& h) { h.type = 9; }),
        with([](TgaHeader& h) { h.type = 11; }),
        with([](TgaHeader& h) { h.bits = 16; }),
        with([](TgaHeader& h) { h.bits = 8; }),
        with([](TgaHeader& h) { h.width = 0; }),
        with([](TgaHeader& h) { h.idLength = 255; }),  // the id runs past the data
        // Sizes the data cannot fill are refused before anything is allocated.
        with([](TgaHeader& h) { h.width = h.height = 65535; }),
        with([](TgaHeader& h) { h.width = h.height = 65535; h.type = 10; }),
    };
    Bitmap bmp;
    bmp.width = 7;
    for (const TgaHeader& h : bad) {
        std::vector<uint8_t> file = tga(h, body);
        if (h.idLength) file.resize(18 + 10);
        EXPECT_FALSE(decode(file, bmp)) << int(h.type) << " " << int(h.bits) << " " << h.width;
    }
    EXPECT_EQ(bmp.width, 7);  // a failed decode leaves the output alone
    EXPECT_FALSE(DecodeTga(nullptr, 0, bmp));
}
