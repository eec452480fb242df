#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstring>

#include "platform/FileSystem.h"
#include "platform/Png.h"

namespace nb {
namespace {

std::vector<uint32_t> Decode(const std::vector<uint8_t>& data, int& w, int& h) {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, data.data(), data.size())) return {};
    img.format = PNG_FORMAT_BGRA;
    std::vector<uint32_t> px(size_t(img.width) * img.height);
    if (!png_image_finish_read(&img, nullptr, px.data(), 0, nullptr)) return {};
    w = int(img.width);
    h = int(img.height);
    return px;
}

TEST(Png, ArgbWordsRoundTripWithAlphaAndRowOrder) {
    // Three columns, two rows; every channel distinct so that a swapped
    // channel or a flipped row shows.
    const std::vector<uint32_t> px = {0xFF102030, 0x80405060, 0x00000000, 0x01FFFFFF, 0xFEA0B0C0, 0x7F0F1E2D};
    std::vector<uint8_t> data;
    ASSERT_TRUE(EncodePng(3, 2, px.data(), px.size(), data));
    ASSERT_GT(data.size(), 8u);
    EXPECT_EQ(std::memcmp(data.data(), "\x89PNG\r\n\x1a\n", 8), 0);
    int w = 0, h = 0;
    EXPECT_EQ(Decode(data, w, h), px);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
}

TEST(Png, RefusesBadSizesAndWritesWholeFilesOnly) {
    std::vector<uint8_t> data;
    const std::vector<uint32_t> px(4, 0xFF00FF00);
    EXPECT_FALSE(EncodePng(0, 2, px.data(), px.size(), data));
    EXPECT_FALSE(EncodePng(2, -1, px.data(), px.size(), data));
    EXPECT_FALSE(EncodePng(3, 2, px.data(), px.size(), data));  // 6 pixels wanted, 4 given
    EXPECT_FALSE(EncodePng(2, 2, nullptr, 4, data));
    EXPECT_TRUE(data.empty());

    const std::string path = testing::TempDir() + "png_test_shot.png";
    ASSERT_TRUE(WritePng(path, 2, 2, px));
    auto first = fs::readFile(path);
    ASSERT_TRUE(first.has_value());
    int w = 0, h = 0;
    EXPECT_EQ(Decode(*first, w, h), px);
    // A failed write leaves the earlier screenshot as it was.
    EXPECT_FALSE(WritePng(path, 5, 5, px));
    EXPECT_FALSE(WritePng(path, 2, 2, static_cast<const uint32_t*>(nullptr)));
    EXPECT_EQ(fs::readFile(path), first);
    // From a plain buffer of width x height words.
    const uint32_t red[2] = {0xFFFF0000, 0x80FF0000};
    ASSERT_TRUE(WritePng(path, 2, 1, red));
    auto second = fs::readFile(path);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(Decode(*second, w, h), (std::vector<uint32_t>{0xFFFF0000, 0x80FF0000}));
    std::remove(path.c_str());
}

}  // namespace
}  // namespace nb
