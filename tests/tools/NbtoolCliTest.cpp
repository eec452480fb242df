#include <gtest/gtest.h>

#include <sstream>

#include "archive/ResArchive.h"
#include "tests/archive/ArchiveBytes.h"
#include "tools/FontBake.h"
#include "tools/GameFile.h"
#include "tools/Nbtool.h"

using namespace nb;
using namespace nbtest;

namespace {

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun nbtool(std::vector<std::string> args) {
    std::ostringstream out, err;
    NbtoolContext ctx{out, err, 44000.0};
    int status = RunNbtool(args, ctx);
    return {status, out.str(), err.str()};
}

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

}  // namespace

TEST(Nbtool, ArchivePackListExtractAndFontBake) {
    ScratchDir dir;
    writeBytes(dir.file("a.txt"), bytesOf("alpha"));
    writeBytes(dir.file("b.bin"), bytesOf(std::string("\0\1\2", 3)));
    writeBytes(dir.file("empty"), {});
    const std::string res = dir.file("pack.res");

    ToolRun r = nbtool({"archive", "pack", "-o", res, dir.file("a.txt"), "Pics\\\xD0\x96.bin=" + dir.file("b.bin"),
                    "void=" + dir.file("empty")});
    ASSERT_EQ(r.status, 0) << r.err;
    TResArchive a;
    a.OpenMode = TOpenModes::opReadOnly;
    a.SetFileName(res);
    ASSERT_TRUE(a.Open());
    ASSERT_EQ(a.RecordCount(), 3);
    EXPECT_EQ(a.RecordKey(0), "a.txt");
    EXPECT_EQ(a.RecordKey(1), "Pics\\\xC6.bin");  // Windows-1251 in the archive
    EXPECT_EQ(a.Record(0)->date, 44000.0);

    // A key with '/' packs as given but warns: the game would ask for '\'.
    r = nbtool({"archive", "pack", "-o", dir.file("slash.res"), "sounds/a.wav=" + dir.file("a.txt")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "warning: the key \"sounds/a.wav\"")) << r.err;
    EXPECT_TRUE(contains(r.err, "(\"sounds\\a.wav\")")) << r.err;
    EXPECT_TRUE(nbtool({"archive", "pack", "-o", dir.file("back.res"), "sounds\\a.wav=" + dir.file("a.txt")})
                    .err.empty());

    // A missing archive and a file that is none are told apart.
    r = nbtool({"archive", "list", dir.file("nothing.res")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "cannot read the archive")) << r.err;
    for (const char* cmd : {"list", "extract"}) {
        std::vector<std::string> args = {"archive", cmd, dir.file("a.txt")};
        if (cmd[0] == 'e') args.insert(args.end(), {"-o", dir.file("x")});
        r = nbtool(args);
        EXPECT_EQ(r.status, 1) << cmd;
        EXPECT_TRUE(contains(r.err, "a.txt is not a resource archive, or it is damaged")) << r.err;
    }

    r = nbtool({"archive", "list", res});
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "Pics\\\xD0\x96.bin"));
    EXPECT_TRUE(contains(r.out, "a.txt"));

    // Extraction: all records, subfolders from backslashes, keys by any case.
    r = nbtool({"archive", "extract", res, "-o", dir.file("out")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::readFile(dir.file("out/a.txt")), bytesOf("alpha"));
    EXPECT_EQ(fs::readFile(dir.file("out/Pics/\xD0\x96.bin")), bytesOf(std::string("\0\1\2", 3)));
    EXPECT_EQ(fs::readFile(dir.file("out/void")), std::vector<uint8_t>{});
    r = nbtool({"archive", "extract", res, "A.TXT", "missing", "-o", dir.file("one")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "no record \"missing\""));
    EXPECT_TRUE(fs::fileExists(dir.file("one/a.txt")));

    // Keys that would escape the folder are refused, the rest extracted.
    writeBytes(dir.file("evil.res"), buildArchive({packed("..\\..\\evil", bytesOf("x")), packed("ok", bytesOf("y"))}));
    r = nbtool({"archive", "extract", dir.file("evil.res"), "-o", dir.file("safe")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(fs::fileExists(dir.file("safe/ok")));
    EXPECT_FALSE(fs::fileExists(dir.file("evil")));

    // Baking into an existing archive keeps its records and replaces a font
    // of the same name.
    for (const char* size : {"12", "14"}) {
        r = nbtool({"font", "bake", "--ttf", "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "--size", size,
                    "--first", "48", "--last", "57", "-o", res, "--name", size[1] == '2' ? "Digits" : "DIGITS"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    ASSERT_TRUE(a.Open());
    ASSERT_EQ(a.RecordCount(), 4);
    EXPECT_EQ(a.RecordKind(3), 3);
    EXPECT_EQ(a.RecordKey(3), "DIGITS");
    std::vector<uint8_t> font, original;
    ASSERT_TRUE(a.ReadRecord("digits", font));
    ASSERT_TRUE(a.ReadRecord("a.txt", original));
    EXPECT_EQ(original, bytesOf("alpha"));
    FontPayloadInfo info;
    std::string why;
    ASSERT_TRUE(ParseFontPayload(font, info, why)) << why;
    EXPECT_EQ(info.firstChar, 48);
    EXPECT_EQ(info.glyphCount, 10);

    // A font payload packs as kind 3; anything else given as --font is refused.
    writeBytes(dir.file("digits.fnt"), font);
    r = nbtool({"archive", "pack", "-o", dir.file("f.res"), "--font", "Digits=" + dir.file("digits.fnt")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = nbtool({"archive", "pack", "-o", dir.file("g.res"), "--font", "Bad=" + dir.file("a.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::fileExists(dir.file("g.res")));
    r = nbtool({"archive", "pack", "-o", dir.file("g.res"), dir.file("a.txt"), "A.TXT=" + dir.file("b.bin")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "given twice"));
    r = nbtool({"font", "bake", "--ttf", dir.file("a.txt"), "--size", "12", "-o", res, "--name", "X"});
    EXPECT_EQ(r.status, 1);
    r = nbtool({"font", "bake", "--ttf", "x.ttf", "--size", "big", "-o", res, "--name", "X"});
    EXPECT_EQ(r.status, 2);
}

TEST(Nbtool, GameDumpBuildAndHelp) {
    ScratchDir dir;
    const std::string nbf = dir.file("game.nbf");
    const std::vector<uint8_t> game =
        WriteGame(GameNode("TNBDB").set("Id", "\xC8\xE3\xF0\xE0").add(GameNode("TNBScreen").set("Key", 2)));
    writeBytes(nbf, game);

    ToolRun r = nbtool({"game", "dump", nbf, "-o", dir.file("game.json")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = nbtool({"game", "build", dir.file("game.json"), "-o", dir.file("again.nbf")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::readFile(dir.file("again.nbf")), game);
    r = nbtool({"game", "dump", nbf});
    EXPECT_TRUE(contains(r.out, "\"Id\": \"\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0\""));  // "Игра" in UTF-8

    writeBytes(dir.file("bad.json"), bytesOf("{\"class\": \"TNBDB\",\n \"children\": [{\"class\": \"TNBScreen\",\n"
                                              "   \"props\": {\"Key\": 1, \"Keys\": 2}}]}"));
    r = nbtool({"game", "build", dir.file("bad.json"), "-o", dir.file("bad.nbf")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, dir.file("bad.json") + ":3:24: error: unknown property \"Keys\"")) << r.err;
    EXPECT_FALSE(fs::fileExists(dir.file("bad.nbf")));

    // A file that is no game at all fails; a damaged game still dumps raw.
    for (const char* notGame : {"", "{\"class\":\"TNBDB\"}"}) {
        writeBytes(dir.file("not.nbf"), bytesOf(notGame));
        r = nbtool({"game", "dump", dir.file("not.nbf")});
        EXPECT_EQ(r.status, 1) << notGame;
        EXPECT_TRUE(contains(r.err, "is not a game file")) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    writeBytes(dir.file("cut.nbf"), std::vector<uint8_t>(game.begin(), game.begin() + 20));
    r = nbtool({"game", "dump", dir.file("cut.nbf")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\"raw\"")) << r.out;

    // Help for every command and subcommand; wrong usage answers 2.
    for (std::vector<std::string> help : std::vector<std::vector<std::string>>{
             {"--help"}, {"archive", "--help"}, {"archive", "list", "--help"}, {"archive", "extract", "--help"},
             {"archive", "pack", "--help"}, {"font", "--help"}, {"font", "bake", "--help"}, {"game", "--help"},
             {"game", "dump", "--help"}, {"game", "build", "--help"}}) {
        r = nbtool(help);
        EXPECT_EQ(r.status, 0) << help.back();
        EXPECT_TRUE(contains(r.out, "Usage: nbtool")) << help.back();
    }
    for (std::vector<std::string> wrong : std::vector<std::vector<std::string>>{
             {}, {"paint"}, {"archive"}, {"archive", "zip"}, {"game", "build", "x.json"}, {"game", "dump"},
             {"archive", "list", "a", "--verbose"}, {"font", "bake", "--size"}}) {
        r = nbtool(wrong);
        EXPECT_EQ(r.status, 2) << (wrong.empty() ? "" : wrong.back());
        EXPECT_FALSE(r.err.empty());
    }
}
