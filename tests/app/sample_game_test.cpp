// The bundled sample game through the real GL path: its menu is drawn with
// exact background pixels and blended panels, and a click on Play reaches
// the second screen behind the loading screen.
#include <gtest/gtest.h>

#include "TestGame.h"
#include "media/Decoders.h"
#include "platform/Bitmap.h"

namespace {

int channel(uint32_t argb, int shift) { return int((argb >> shift) & 0xFF); }

}  // namespace

TEST(SampleGame, MenuDrawsExactPixelsAndPlayLeadsToTheSecondScreen) {
    nbtest::TempDir dir;
    std::string game = std::string(NB_BINARY_DIR) + "/games/sample/sample.nbf";
    ASSERT_TRUE(nb::fs::fileExists(game)) << game;
    // The logo shows for 100 ticks, the gap after it for 100 more; the menu
    // is shown from tick 203. Play is pressed at tick 215.
    ASSERT_TRUE(dir.write("input.txt", "214 move 512 250\n215 down 512 250\n216 up 512 250\n"));
    std::string args = "--headless --fast --seed 7 --max-ticks 260 --input '" + dir.file("input.txt") +
                       "' --screenshot 210:'" + dir.file("menu.png") + "' --screenshot 255:'" +
                       dir.file("second.png") + "' '" + game + "'";
    ASSERT_EQ(nbtest::RunPlayer(args, dir.file("log.txt")), 0) << dir.read("log.txt");
    if (dir.read("log.txt").find("drawing disabled") != std::string::npos)
        GTEST_SKIP() << "no OpenGL context here: " << dir.read("log.txt");

    nb::Bitmap menu, second;
    auto load = [&](const std::string& name, nb::Bitmap& bmp) {
        auto bytes = nb::fs::readFile(dir.file(name));
        return bytes && nb::DecodePng(bytes->data(), bytes->size(), bmp);
    };
    ASSERT_TRUE(load("menu.png", menu));
    ASSERT_TRUE(load("second.png", second));
    // The background is drawn opaque and unscaled: exact pixels of the
    // generated gradient (20 + y/12, 30 + y/10, 90 + y/6).
    EXPECT_EQ(menu.argb(5, 5) & 0xFFFFFFu, 0x141E5Au);
    EXPECT_EQ(menu.argb(1000, 700) & 0xFFFFFFu, 0x4E64CEu);
    // The panel: 0x203050 at alpha 170 blended over the gradient.
    uint32_t p = menu.argb(310, 650);
    EXPECT_NEAR(channel(p, 16), 46, 1);
    EXPECT_NEAR(channel(p, 8), 64, 1);
    EXPECT_NEAR(channel(p, 0), 119, 1);
    // The second screen's JPEG background is warm where the menu was blue.
    uint32_t s = second.argb(5, 5);
    EXPECT_GT(channel(s, 16), channel(s, 0));
    EXPECT_TRUE(dir.read("log.txt").find("nimbel") == std::string::npos);
}
