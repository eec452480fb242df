#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "archive/ResArchive.h"
#include "tests/archive/ArchiveBytes.h"
#include "tools/ArchiveWriter.h"

using namespace nb;
using namespace nbtest;

namespace {

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
    }
    return v;
}

}  // namespace

TEST(ArchiveWriter, RecordsRoundTripThroughThePlayersReader) {
    ScratchDir dir;
    const std::string path = dir.file("out.res");
    const std::vector<uint8_t> big = noise(100000, 7);
    const std::vector<uint8_t> text = bytesOf("hello hello hello hello");
    ArchiveWriter w;
    w.date = 45123.25;
    ASSERT_TRUE(w.add("noise.bin", 0, big));
    ASSERT_TRUE(w.add("text.txt", 0, bytesOf("old")));
    ASSERT_TRUE(w.add("empty", 0, {}));
    ASSERT_TRUE(w.add("\xD8\xF0\xE8\xF4\xF2", ArchiveWriter::kFontKind, text));  // a Cyrillic font name
    ASSERT_TRUE(w.add("TEXT.TXT", 0, text));  // replaces in place, letter case ignored
    ASSERT_TRUE(w.save(path));

    TResArchive a;
    a.OpenMode = TOpenModes::opReadOnly;
    a.SetFileName(path);
    ASSERT_TRUE(a.Open());
    ASSERT_EQ(a.RecordCount(), 4);
    EXPECT_EQ(a.RecordKey(1), "TEXT.TXT");
    EXPECT_EQ(a.RecordKind(3), 3);
    const std::vector<std::vector<uint8_t>> expect = {big, text, {}, text};
    for (int i = 0; i < 4; ++i) {
        std::vector<uint8_t> out;
        ASSERT_TRUE(a.ReadRecord(a.RecordKey(i), out)) << i;
        EXPECT_EQ(out, expect[size_t(i)]) << i;
        const TResRecordInfo& r = *a.Record(i);
        EXPECT_EQ(r.unpackedSize, int32_t(expect[size_t(i)].size()));
        EXPECT_EQ(r.date, 45123.25);
        EXPECT_EQ(r.flags, 0);
        uint8_t sum[16];
        RecordChecksum(expect[size_t(i)].data(), expect[size_t(i)].size(), sum);
        EXPECT_EQ(std::memcmp(r.checksum, sum, 16), 0);
        EXPECT_EQ(std::memcmp(r.cipherIV, "\0\0\0\0\0\0\0\0", 8), 0);
    }

    // Layout: records from offset 12 on, the table right after the last one.
    std::vector<uint8_t> file = *fs::readFile(path);
    ByteReader in(file);
    uint32_t count = 0, table = 0;
    in.skip(4);
    in.u32(count);
    in.u32(table);
    EXPECT_EQ(a.Record(0)->offset, 12);
    EXPECT_EQ(table, uint32_t(a.Record(3)->offset) + 44 + uint32_t(a.Record(3)->storedSize));

    // Loading keeps every record as stored: the rebuilt file is identical,
    // even for an enciphered record the writer cannot unpack.
    RawRecord secret = packed("secret", noise(64, 3));
    secret.flags = 1;
    secret.stored = noise(40, 9);
    const std::string other = dir.file("other.res");
    writeBytes(other, buildArchive({packed("a", bytesOf("1")), secret, packed("A", bytesOf("unreachable"))}));
    std::string error;
    for (const std::string& p : {path, other}) {
        ArchiveWriter copy;
        ASSERT_TRUE(copy.load(p, error)) << error;
        std::vector<uint8_t> original = *fs::readFile(p);
        if (p == other) {
            // The repeated key "A" cannot be reached by the player and is dropped.
            ASSERT_EQ(copy.entries().size(), 2u);
            EXPECT_EQ(copy.entries()[1].flags, 1);
            EXPECT_EQ(copy.entries()[1].stored, secret.stored);
            continue;
        }
        EXPECT_EQ(*copy.build(), original);
    }
    writeBytes(other, bytesOf("ASDb"));
    ArchiveWriter broken;
    EXPECT_FALSE(broken.load(other, error));
    EXPECT_FALSE(error.empty());
}

TEST(ArchiveWriter, ChecksumAndDateFields) {
    const std::string digits = "123456789";
    uint8_t sum[16];
    RecordChecksum(reinterpret_cast<const uint8_t*>(digits.data()), digits.size(), sum);
    // Published check values of CRC-32, Adler-32 and FNV-1a 64 for "123456789".
    const uint8_t expect[16] = {0x26, 0x39, 0xF4, 0xCB, 0xDE, 0x01, 0x1E, 0x09,
                                0xFC, 0xCD, 0xC6, 0x23, 0x39, 0x57, 0xD5, 0x06};
    EXPECT_EQ(std::memcmp(sum, expect, 16), 0);

    EXPECT_EQ(ArchiveDateFromUnix(0), 25569.0);
    EXPECT_EQ(ArchiveDateFromUnix(86400 * 365 + 43200), 25569.0 + 365.5);
    const double utcNow = ArchiveDateFromUnix(int64_t(std::time(nullptr)));
    EXPECT_NEAR(CurrentArchiveDate(), utcNow, 1.0);  // local time is within a day of UTC
}
