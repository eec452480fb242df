#include <gtest/gtest.h>

#include "archive/ResArchive.h"
#include "tests/archive/ArchiveBytes.h"

using namespace nb;
using namespace nbtest;

namespace {

TResArchive openArchive(const std::string& path, TOpenModes mode = TOpenModes::opReadOnly) {
    TResArchive a;
    a.OpenMode = mode;
    a.SetFileName(path);
    a.Open();
    return a;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7 + (i >> 5));
    return v;
}

}  // namespace

TEST(ResArchive, KeysIgnoreAsciiCaseAndTheFirstMatchWins) {
    ScratchDir dir;
    const std::string path = dir.file("a.res");
    writeBytes(path, buildArchive({packed("Fonts\\Arial.FNT", bytesOf("arial"), 3),
                                   packed("Pic.PNG", bytesOf("first")),
                                   packed("pic.png", bytesOf("second")),
                                   packed("\xC1.bmp", bytesOf("cyrillic"))}));
    TResArchive a = openArchive(path);
    ASSERT_TRUE(a.IsOpen());
    EXPECT_EQ(a.IndexOf("fonts\\arial.fnt"), 0);
    EXPECT_EQ(a.IndexOf("PIC.png"), 1);
    EXPECT_EQ(a.IndexOf("\xC1.BMP"), 3);
    EXPECT_EQ(a.IndexOf("\xE1.bmp"), -1);  // only ASCII letters fold
    EXPECT_EQ(a.IndexOf("pic"), -1);

    std::vector<uint8_t> out;
    ASSERT_TRUE(a.ReadRecord("PIC.PNG", out));
    EXPECT_EQ(out, bytesOf("first"));
    ASSERT_TRUE(a.ReadRecord("FONTS\\ARIAL.fnt", out));
    EXPECT_EQ(out, bytesOf("arial"));
    EXPECT_EQ(a.RecordKind(0), TResArchive::kFontKind);

    // Reading by the key held in the table itself stays valid although the
    // first read after opening reloads that table.
    ASSERT_TRUE(a.Open());
    ASSERT_TRUE(a.ReadRecord(a.Record(2)->key, out));
    EXPECT_EQ(out, bytesOf("first"));
}

TEST(ResArchive, ReadsSucceedOnlyAtExactlyTheUnpackedSize) {
    ScratchDir dir;
    const std::string path = dir.file("a.res");
    const std::vector<uint8_t> data = pattern(5000, 3);
    RawRecord exact = packed("exact", data);
    RawRecord oneShort = packed("short", data);
    oneShort.unpacked += 1;  // the data inflates to one byte fewer than declared
    RawRecord oneLong = packed("long", data);
    oneLong.unpacked -= 1;
    RawRecord empty = packed("empty", {});
    writeBytes(path, buildArchive({exact, oneShort, oneLong, empty}));

    TResArchive a = openArchive(path);
    std::vector<uint8_t> out = {9};
    EXPECT_TRUE(a.ReadRecord("exact", out));
    EXPECT_EQ(out, data);
    EXPECT_FALSE(a.ReadRecord("short", out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(a.ReadRecord("long", out));
    EXPECT_TRUE(a.ReadRecord("empty", out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(a.ReadRecord("absent", out));

    std::vector<uint8_t> stream = {1, 2};
    EXPECT_TRUE(a.ReadRecordToStream("exact", stream));
    ASSERT_EQ(stream.size(), data.size() + 2);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), stream.begin() + 2));
    EXPECT_FALSE(a.ReadRecordToStream("short", stream));
    EXPECT_EQ(stream.size(), data.size() + 2);
}

TEST(ResArchive, OpenModesAndEmptyArchives) {
    ScratchDir dir;
    const std::string missing = dir.file("new.res");
    EXPECT_FALSE(openArchive(missing, TOpenModes::opReadOnly).IsOpen());
    EXPECT_FALSE(fs::fileExists(missing));

    // opUpdate creates an empty archive when the file is missing.
    TResArchive created = openArchive(missing, TOpenModes::opUpdate);
    EXPECT_TRUE(created.IsOpen());
    EXPECT_EQ(fs::readFile(missing), bytesOf(std::string("ASDb\0\0\0\0\x0c\0\0\0", 12)));

    // An R = 0 archive opens and holds no fonts or records.
    TResArchive empty = openArchive(missing);
    ASSERT_TRUE(empty.IsOpen());
    EXPECT_EQ(empty.RecordCount(), 0);
    EXPECT_FALSE(empty.HasRecord("anything"));

    // opUpdate reads an existing archive; opOverwrite empties it.
    const std::string full = dir.file("full.res");
    writeBytes(full, buildArchive({packed("k", bytesOf("v"))}));
    EXPECT_EQ(openArchive(full, TOpenModes::opUpdate).RecordCount(), 1);
    TResArchive wiped = openArchive(full, TOpenModes::opOverwrite);
    EXPECT_TRUE(wiped.IsOpen());
    EXPECT_EQ(wiped.RecordCount(), 0);
    EXPECT_EQ(openArchive(full).RecordCount(), 0);

    // A damaged file under opUpdate is an error, never silently replaced.
    const std::string damaged = dir.file("damaged.res");
    writeBytes(damaged, bytesOf("ASDb\x05"));
    EXPECT_FALSE(openArchive(damaged, TOpenModes::opUpdate).IsOpen());
    EXPECT_EQ(fs::readFile(damaged), bytesOf("ASDb\x05"));

    // A new file name clears the open mark; HasRecord opens on demand.
    TResArchive a = openArchive(full);
    writeBytes(full, buildArchive({packed("k", bytesOf("v"))}));
    a.SetFileName(full);
    EXPECT_FALSE(a.IsOpen());
    EXPECT_TRUE(a.HasRecord("K"));
    EXPECT_TRUE(a.IsOpen());
}

TEST(ResArchive, IndexOutOfRangeAndEncipheredRecords) {
    ScratchDir dir;
    const std::string path = dir.file("a.res");
    RawRecord secret = packed("secret", pattern(300, 1));
    for (size_t i = 0; i + 8 <= secret.stored.size(); i += 8)  // what an 8-byte block cipher leaves
        for (size_t k = 0; k < 8; ++k) secret.stored[i + k] ^= uint8_t(0x5A + k * 31);
    secret.flags = 1;
    writeBytes(path, buildArchive({packed("plain", bytesOf("ok"), 7), secret}));
    TResArchive a = openArchive(path);
    ASSERT_EQ(a.RecordCount(), 2);
    for (int bad : {-1, 2, 1000}) {
        EXPECT_EQ(a.RecordKind(bad), 0);
        EXPECT_EQ(a.RecordKey(bad), "[invalid-record-#]");
        EXPECT_EQ(a.Record(bad), nullptr);
    }
    EXPECT_EQ(a.RecordKind(0), 7);
    EXPECT_EQ(a.Record(1)->flags, 1);

    std::vector<uint8_t> out;
    EXPECT_FALSE(a.ReadRecord("secret", out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(a.ReadRecord("plain", out));
}

TEST(ResArchive, FirstReadAfterOpeningTakesTheTableAsTheFileHoldsIt) {
    ScratchDir dir;
    const std::string path = dir.file("a.res");
    writeBytes(path, buildArchive({packed("old", bytesOf("1"))}));
    TResArchive a = openArchive(path);
    writeBytes(path, buildArchive({packed("x", bytesOf("22")), packed("new", bytesOf("333"))}));
    std::vector<uint8_t> out;
    EXPECT_TRUE(a.ReadRecord("new", out));
    EXPECT_EQ(out, bytesOf("333"));
    EXPECT_EQ(a.RecordCount(), 2);
    EXPECT_FALSE(a.ReadRecord("old", out));

    // The file gone or damaged: reads fail, nothing is kept from before.
    std::filesystem::remove(path);
    EXPECT_FALSE(a.ReadRecord("new", out));
    writeBytes(path, bytesOf("ASDb"));
    ASSERT_FALSE(a.Open());
    EXPECT_FALSE(a.ReadRecord("new", out));

    // A file that fails to open leaves no table behind, even when its
    // records sit where the previous file's table points.
    std::vector<uint8_t> good = buildArchive({packed("k", bytesOf("v"))});
    writeBytes(path, good);
    ASSERT_TRUE(a.Open());
    std::vector<uint8_t> badTable = good;
    badTable[8] = badTable[9] = badTable[10] = badTable[11] = 0xFF;
    const std::string other = dir.file("b.res");
    writeBytes(other, badTable);
    a.SetFileName(other);
    EXPECT_FALSE(a.Open());
    EXPECT_EQ(a.RecordCount(), 0);
    EXPECT_FALSE(a.ReadRecord("k", out));
    EXPECT_TRUE(out.empty());
}

TEST(ResArchive, DamagedArchivesFailWithoutReadingOutside) {
    ScratchDir dir;
    const std::string path = dir.file("d.res");
    std::vector<RawRecord> recs = {packed("one", pattern(150, 1)), packed("two", pattern(40, 2), 3),
                                   packed("three", pattern(300, 3))};

    // Truncated at every byte: with the table at the end nothing opens; with
    // the table first, records cut short fail while earlier ones still read.
    int earlierReads = 0;
    for (bool tableFirst : {false, true}) {
        const std::vector<uint8_t> whole = buildArchive(recs, tableFirst);
        for (size_t n = 0; n < whole.size(); ++n) {
            writeBytes(path, std::vector<uint8_t>(whole.begin(), whole.begin() + long(n)));
            TResArchive a = openArchive(path);
            if (!tableFirst) {
                EXPECT_FALSE(a.IsOpen()) << n;
                continue;
            }
            if (!a.IsOpen()) continue;
            std::vector<uint8_t> out;
            EXPECT_FALSE(a.ReadRecord("three", out)) << n;
            for (const char* key : {"one", "two"}) {
                if (a.ReadRecord(key, out)) {
                    ++earlierReads;
                    EXPECT_EQ(int(out.size()), a.Record(a.IndexOf(key))->unpackedSize);
                }
            }
        }
    }
    EXPECT_GT(earlierReads, 0);

    // Absurd counts, lengths, offsets and sizes.
    auto table = [](uint32_t count, std::vector<uint8_t> rest) {
        ByteWriter w;
        w.bytes("ASDb", 4);
        w.u32(count);
        w.u32(12);
        w.bytes(rest.data(), rest.size());
        return w.buffer();
    };
    auto entry = [](int32_t keyLen, const std::string& key, int32_t offset) {
        ByteWriter w;
        w.i32(keyLen);
        w.bytes(key.data(), key.size());
        w.i32(offset);
        return w.buffer();
    };
    const std::vector<std::vector<uint8_t>> broken = {
        table(0xFFFFFFFFu, {}),
        table(1, entry(-1, "", 12)),
        table(1, entry(0x7FFFFFFF, "k", 12)),
        table(1, entry(1, "k", -44)),
        table(1, entry(1, "k", 1 << 30)),
        bytesOf(std::string("ASDB\0\0\0\0\x0c\0\0\0", 12)),        // wrong signature
        bytesOf(std::string("ASDb\0\0\0\0\x0b\0\0\0", 12)),        // table inside the header
        bytesOf(std::string("ASDb\0\0\0\0\xff\xff\xff\xff", 12)),  // table past the end
    };
    for (size_t i = 0; i < broken.size(); ++i) {
        writeBytes(path, broken[i]);
        EXPECT_FALSE(openArchive(path).IsOpen()) << i;
    }

    // Sizes in record headers that cannot be right fail the read, not the open.
    RawRecord negStored = packed("negstored", bytesOf("abc"));
    negStored.storedSizeField = -5;
    RawRecord longStored = packed("longstored", bytesOf("abc"));
    longStored.storedSizeField = 1 << 30;
    RawRecord negUnpacked = packed("negunpacked", bytesOf("abc"));
    negUnpacked.unpacked = -3;
    RawRecord huge = packed("huge", bytesOf("abc"));
    huge.unpacked = 0x7FFFFFFF;  // refused before any allocation
    RawRecord bomb = packed("bomb", std::vector<uint8_t>(600000, 0));
    bomb.unpacked = int32_t(bomb.stored.size()) * 2000;
    writeBytes(path, buildArchive({negStored, longStored, negUnpacked, huge, bomb, packed("fine", bytesOf("x"))}));
    TResArchive a = openArchive(path);
    ASSERT_TRUE(a.IsOpen());
    std::vector<uint8_t> out;
    for (const char* key : {"negstored", "longstored", "negunpacked", "huge", "bomb"})
        EXPECT_FALSE(a.ReadRecord(key, out)) << key;
    EXPECT_TRUE(a.ReadRecord("fine", out));
    EXPECT_FALSE(TResArchive::UnpackedSizeAcceptable(TResArchive::kMaxUnpackedSize + 1, INT32_MAX));
    EXPECT_TRUE(TResArchive::UnpackedSizeAcceptable(1040 * 1000, 1000));  // zlib's best ratio stays readable

    // Every single byte flipped: whatever still reads has its declared size.
    const std::vector<uint8_t> whole = buildArchive(recs);
    int reads = 0;
    for (size_t i = 0; i < whole.size(); ++i) {
        std::vector<uint8_t> bad = whole;
        bad[i] ^= 0xFF;
        writeBytes(path, bad);
        TResArchive b = openArchive(path);
        for (int r = 0; r < b.RecordCount(); ++r) {
            std::string key = b.RecordKey(r);
            int32_t declared = b.Record(r)->unpackedSize;
            if (b.ReadRecord(key, out)) {
                ++reads;
                EXPECT_EQ(int32_t(out.size()), declared);
            }
        }
    }
    EXPECT_GT(reads, 0);
}
