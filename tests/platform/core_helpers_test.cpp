// The small platform helpers every module leans on: INI files, Windows-1251
// text, case-insensitive paths and the bounds-checked byte reader.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/ByteIO.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Text.h"

using namespace nb;

namespace {

struct Scratch {
    Scratch() {
        char t[] = "/tmp/nb-platform-XXXXXX";
        dir = std::string(::mkdtemp(t)) + "/";
    }
    ~Scratch() { (void)std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string dir;
};

}  // namespace

TEST(IniFile, ReadsBothLineEndingsIgnoringCaseAndBlanks) {
    IniFile crlf = IniFile::fromText("; comment\r\n[Def]\r\n  Snd = 80 \r\nFS=1\r\n[Other]\r\nSnd=5\r\n");
    EXPECT_EQ(crlf.readInteger("def", "SND", 100), 80);
    EXPECT_TRUE(crlf.readBool("DEF", "fs", false));
    EXPECT_EQ(crlf.readInteger("Other", "Snd", 0), 5);
    EXPECT_EQ(crlf.readInteger("Def", "Muz", 50), 50);  // absent: default
    IniFile lf = IniFile::fromText("[Menu]\nTitle=Start game\nNum=$1F\nBad=12x\n");
    EXPECT_EQ(lf.readString("MENU", "title", ""), "Start game");
    EXPECT_EQ(lf.readInteger("Menu", "Num", 0), 31);
    EXPECT_EQ(lf.readInteger("Menu", "Bad", 7), 7);  // not a number: default
    IniFile odd = IniFile::fromText("[N]\na=--5\nb=+-5\nc=- 5\nd=$0x10\ne=0x\nf=-\ng=99999999999\nh=-$10\ni=0x-5\n");
    for (const char* k : {"a", "b", "c", "d", "e", "f", "g", "i"})
        EXPECT_EQ(odd.readInteger("N", k, 7), 7) << k;
    EXPECT_EQ(odd.readInteger("N", "h", 7), -16);
    EXPECT_FALSE(lf.find("Menu", "Missing").has_value());
    EXPECT_FALSE(lf.find("Nowhere", "Title").has_value());
}

TEST(IniFile, WriteThroughRewritesOnlyTheChangedLine) {
    Scratch s;
    std::string path = s.dir + "game.ini";
    std::string original = "; settings\r\n[Def]\r\nSnd=100\r\nMuz = 50\r\n\r\n[Keep]\r\nA=1\r\n";
    ASSERT_TRUE(fs::writeFile(path, original.data(), original.size()));
    IniFile ini = IniFile::writeThrough(path);
    ASSERT_TRUE(ini.writeInteger("DEF", "Muz", 70));
    EXPECT_EQ(*fs::readFileString(path), "; settings\r\n[Def]\r\nSnd=100\r\nMuz=70\r\n\r\n[Keep]\r\nA=1\r\n");
    // A new key goes after the section's last line, a new section at the end.
    ASSERT_TRUE(ini.writeBool("Def", "FS", true));
    ASSERT_TRUE(ini.writeString("New", "K", "v"));
    EXPECT_EQ(*fs::readFileString(path),
              "; settings\r\n[Def]\r\nSnd=100\r\nMuz=70\r\nFS=1\r\n\r\n[Keep]\r\nA=1\r\n[New]\r\nK=v\r\n");
    // A missing file is created with its section.
    IniFile fresh = IniFile::writeThrough(s.dir + "fresh.ini");
    ASSERT_TRUE(fresh.writeString("Def", "Snd", "30"));
    EXPECT_EQ(*fs::readFileString(s.dir + "fresh.ini"), "[Def]\r\nSnd=30\r\n");
    // The file on disk is followed: a deleted file starts afresh, another
    // writer's lines are kept and read.
    ASSERT_TRUE(fs::removeFile(path));
    EXPECT_EQ(ini.readInteger("Def", "Muz", 5), 5);
    ASSERT_TRUE(ini.writeString("Def", "Snd", "9"));
    EXPECT_EQ(*fs::readFileString(path), "[Def]\r\nSnd=9\r\n");
    std::string edited = "[Def]\r\nSnd=9\r\nMuz=4\r\n";
    ASSERT_TRUE(fs::writeFile(path, edited.data(), edited.size()));
    EXPECT_EQ(ini.readInteger("Def", "Muz", 5), 4);
    ASSERT_TRUE(ini.writeString("Def", "FS", "0"));
    EXPECT_EQ(*fs::readFileString(path), "[Def]\r\nSnd=9\r\nMuz=4\r\nFS=0\r\n");
    // An LF-only file stays LF-only.
    std::string lf = "[Def]\nSnd=1\n";
    ASSERT_TRUE(fs::writeFile(s.dir + "lf.ini", lf.data(), lf.size()));
    IniFile lfIni = IniFile::writeThrough(s.dir + "lf.ini");
    ASSERT_TRUE(lfIni.writeString("Def", "Muz", "2"));
    EXPECT_EQ(*fs::readFileString(s.dir + "lf.ini"), "[Def]\nSnd=1\nMuz=2\n");
}

TEST(Text, Windows1251SurvivesUtf8AndFoldsCyrillic) {
    std::string all;
    for (int i = 1; i < 256; ++i) all += char(i);
    std::string utf8 = cp1251ToUtf8(all);
    EXPECT_TRUE(utf8FitsCp1251(utf8));
    EXPECT_EQ(utf8ToCp1251(utf8), all);
    EXPECT_EQ(cp1251ToUtf8("\xC0\xE1\xA8\xB8"), "\xD0\x90\xD0\xB1\xD0\x81\xD1\x91");  // А б Ё ё
    EXPECT_EQ(cp1251Upper("ab\xE0\xFF\xB8z"), "AB\xC0\xDF\xA8Z");
    EXPECT_EQ(cp1251Lower("AB\xC0\xDF\xA8"), "ab\xE0\xFF\xB8");
    EXPECT_EQ(asciiUpper("ab\xE0"), "AB\xE0");  // names fold ASCII only
    EXPECT_EQ(utf8ToCp1251("\xE2\x82\xAC x \xF0\x9F\x98\x80"), "\x88 x ?");  // euro sign; an emoji has no byte
    EXPECT_EQ(trim(" \t a b \r\n"), "a b");
    EXPECT_EQ(roundHalfEvenI32(2.5), 2);
    EXPECT_EQ(roundHalfEvenI32(3.5), 4);
    EXPECT_EQ(roundHalfEvenI32(-2.5), -2);
    EXPECT_EQ(roundHalfEvenI32(1e12), INT32_MAX);
}

TEST(FileSystem, ResolvesAnyCaseAndBackslashes) {
    Scratch s;
    ASSERT_EQ(::mkdir((s.dir + "Sounds").c_str(), 0755), 0);
    std::string data = "x";
    ASSERT_TRUE(fs::writeFile(s.dir + "Sounds/Door.OGG", data.data(), 1));
    auto r = fs::resolve(s.dir + "SOUNDS\\door.ogg");
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, s.dir + "Sounds/Door.OGG");
    EXPECT_TRUE(fs::fileExists(s.dir + "sounds/DOOR.ogg"));
    EXPECT_FALSE(fs::fileExists(s.dir + "sounds/none.ogg"));
    EXPECT_FALSE(fs::fileExists(s.dir + "SOUNDS"));  // a folder is not a file
    // New files go into the resolved folder under the name as written.
    EXPECT_EQ(fs::resolveForCreate(s.dir + "SOUNDS\\New.TXT"), s.dir + "Sounds/New.TXT");
    ASSERT_TRUE(fs::writeFileAtomic(s.dir + "sounds\\door.ogg", "new"));
    EXPECT_EQ(*fs::readFileString(s.dir + "Sounds/Door.OGG"), "new");
    ASSERT_TRUE(fs::appendFile(s.dir + "log.txt", "a\r\n"));
    ASSERT_TRUE(fs::appendFile(s.dir + "LOG.TXT", "b\r\n"));
    EXPECT_EQ(*fs::readFileString(s.dir + "log.txt"), "a\r\nb\r\n");
    EXPECT_TRUE(fs::removeFile(s.dir + "missing.txt"));
}

TEST(FileSystem, ReadsOnlyRegularFiles) {
    // A companion file that is a pipe, a device or a folder reads as missing
    // instead of blocking or filling memory.
    Scratch s;
    ASSERT_EQ(::mkfifo((s.dir + "pipe.ini").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", (s.dir + "zero.ini").c_str()), 0);
    ASSERT_EQ(::mkdir((s.dir + "dir.ini").c_str(), 0755), 0);
    EXPECT_FALSE(fs::readFile(s.dir + "pipe.ini").has_value());
    EXPECT_FALSE(fs::readFile(s.dir + "ZERO.ini").has_value());
    EXPECT_FALSE(fs::readFile(s.dir + "dir.ini").has_value());
    fs::RangeReader pipe;
    EXPECT_FALSE(pipe.open(s.dir + "pipe.ini"));
    bool loaded = true;
    EXPECT_EQ(IniFile::fromFile(s.dir + "pipe.ini", &loaded).text(), "");
    EXPECT_FALSE(loaded);
    ASSERT_TRUE(fs::writeFile(s.dir + "plain.ini", "[Def]", 5));
    EXPECT_EQ(*fs::readFileString(s.dir + "plain.ini"), "[Def]");
}

// Names in another letter case are looked up in remembered folder listings;
// a listing must follow every change to its folder, including changes made
// in the same clock tick as the listing was read.
TEST(FileSystem, CaseInsensitiveLookupsFollowFolderChanges) {
    Scratch s;
    const std::string dir = s.dir + "Pics/";
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    ASSERT_TRUE(fs::writeFile(dir + "Tree.jpg", "t", 1));
    // Listings of a folder that has just changed are not kept; let it age.
    auto settle = [] { ::usleep(150'000); };
    settle();
    EXPECT_EQ(fs::resolve(s.dir + "PICS\\TREE.JPG"), dir + "Tree.jpg");
    EXPECT_FALSE(fs::fileExists(dir + "TREE.AN"));
    // Created after the listing was read: found at once, in any case.
    ASSERT_TRUE(fs::writeFile(dir + "Tree.an", "2", 1));
    EXPECT_EQ(fs::resolve(dir + "TREE.AN"), dir + "Tree.an");
    // Changes within one clock tick of each other are all seen.
    ASSERT_TRUE(fs::writeFile(dir + "Door.jpg", "d", 1));
    EXPECT_TRUE(fs::fileExists(dir + "DOOR.JPG"));
    ASSERT_TRUE(fs::writeFile(dir + "Gate.jpg", "g", 1));
    EXPECT_TRUE(fs::fileExists(dir + "GATE.JPG"));
    ASSERT_TRUE(fs::removeFile(dir + "Door.jpg"));
    EXPECT_FALSE(fs::fileExists(dir + "DOOR.JPG"));
    // A rename in a folder listed long ago, even with the folder's
    // modification time set back as an unpacker would.
    settle();
    EXPECT_TRUE(fs::fileExists(dir + "TREE.JPG"));
    struct stat before;
    ASSERT_EQ(::stat(dir.c_str(), &before), 0);
    ASSERT_EQ(::rename((dir + "Tree.jpg").c_str(), (dir + "Oak.jpg").c_str()), 0);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.c_str(), times, 0), 0);
    EXPECT_FALSE(fs::fileExists(dir + "TREE.JPG"));
    EXPECT_TRUE(fs::fileExists(dir + "OAK.JPG"));
    // A whole-file read of every length around the read buffer's sizing.
    for (size_t n : {size_t(0), size_t(1), size_t(65536), size_t(65537)}) {
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; ++i) bytes[i] = uint8_t(i * 7);
        ASSERT_TRUE(fs::writeFile(dir + "data.bin", bytes.data(), n));
        EXPECT_EQ(fs::readFile(dir + "DATA.BIN"), bytes) << n;
    }
    EXPECT_FALSE(fs::readFile(s.dir + "PICS").has_value());  // a folder reads as nothing
}

// Ranged reads stay inside the file: a range that runs past the end (or
// whose offset plus length wraps) reads nothing and allocates nothing.
TEST(FileSystem, RangeReaderReadsOnlyWholeRangesInsideTheFile) {
    Scratch s;
    ASSERT_TRUE(fs::writeFile(s.dir + "Data.BIN", "0123456789", 10));
    fs::RangeReader r;
    EXPECT_FALSE(r.open(s.dir + "missing.bin"));
    EXPECT_FALSE(r.open(s.dir));  // a folder is not a file
    ASSERT_TRUE(r.open(s.dir + "data.bin"));
    EXPECT_EQ(r.size(), 10u);
    std::vector<uint8_t> out;
    ASSERT_TRUE(r.read(3, 4, out));
    EXPECT_EQ(std::string(out.begin(), out.end()), "3456");
    EXPECT_TRUE(r.read(10, 0, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(r.read(7, 4, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(r.read(11, 0, out));
    EXPECT_FALSE(r.read(2, ~uint64_t(0), out));
    r.close();
    EXPECT_FALSE(r.read(0, 1, out));
}

TEST(ByteReader, NeverReadsPastTheEnd) {
    ByteWriter w;
    w.str32("abc");
    w.i32(-5);
    w.i32(1000);
    w.f64(2.5);
    ByteReader r(w.buffer());
    std::string s;
    ASSERT_TRUE(r.str32(s));
    EXPECT_EQ(s, "abc");
    EXPECT_FALSE(r.str32(s));  // negative length
    EXPECT_FALSE(r.ok());
    ByteReader r2(w.buffer());
    ASSERT_TRUE(r2.skip(11));
    EXPECT_FALSE(r2.str32(s));  // 1000 bytes are not there
    ByteReader r3(w.buffer().data(), 3);
    int32_t v;
    EXPECT_FALSE(r3.i32(v));
    double d;
    ByteReader r4(w.buffer());
    ASSERT_TRUE(r4.seek(w.size() - 8));
    ASSERT_TRUE(r4.f64(d));
    EXPECT_EQ(d, 2.5);
    EXPECT_FALSE(r4.u8(*reinterpret_cast<uint8_t*>(&v)));
}
