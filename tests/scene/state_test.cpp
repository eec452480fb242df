// Saved state: extended reals, the records the tree walk writes, restoring,
// failed writes and damaged files.
#include <signal.h>
#include <sys/resource.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>

#include "scene/SavedState.h"
#include "scene_fixture.h"

namespace nb::scene_test {
namespace {

std::string Ext(double v) {
    uint8_t b[10];
    DoubleToExtended(v, b);
    return std::string(reinterpret_cast<char*>(b), 10);
}
double FromExt(const std::string& s) { return ExtendedToDouble(reinterpret_cast<const uint8_t*>(s.data())); }
std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int x : b) s += char(x);
    return s;
}

TEST(SceneState, ExtendedRealsConvertBothWays) {
    EXPECT_EQ(Ext(1.0), Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}));
    EXPECT_EQ(Ext(-2.5), Bytes({0, 0, 0, 0, 0, 0, 0, 0xA0, 0x00, 0xC0}));
    EXPECT_EQ(Ext(0.0), std::string(10, '\0'));
    EXPECT_EQ(Ext(-0.0), Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x80}));
    EXPECT_EQ(Ext(INFINITY), Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F}));
    EXPECT_EQ(Ext(-INFINITY), Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xFF}));
    // The smallest double denormal, 2^-1074, is a normal extended value.
    EXPECT_EQ(Ext(std::ldexp(1.0, -1074)), Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xCD, 0x3B}));
    EXPECT_EQ(Ext(0.1), Bytes({0x00, 0xD0, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xFB, 0x3F}));

    EXPECT_TRUE(std::isnan(FromExt(Ext(NAN))));
    EXPECT_TRUE(std::signbit(FromExt(Ext(-0.0))));
    const double samples[] = {1.0, -2.5, 0.1, 1e300, -1e-300, DBL_MAX, DBL_MIN, DBL_TRUE_MIN,
                              std::ldexp(3.0, -1060), 123456789.125, INFINITY, -INFINITY};
    for (double d : samples) EXPECT_EQ(FromExt(Ext(d)), d) << d;
    std::mt19937_64 rng(42);
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, 8);
        if (std::isnan(d)) continue;
        ASSERT_EQ(FromExt(Ext(d)), d) << std::hex << bits;
    }
    // Extended values outside the double range, and extra precision.
    EXPECT_EQ(FromExt(Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xFE, 0x7F})), INFINITY);
    EXPECT_EQ(FromExt(Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0x01, 0x80})), 0.0);
    EXPECT_EQ(FromExt(Bytes({1, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F})), 1.0);
    EXPECT_EQ(FromExt(Bytes({0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F})), 1.5);
    EXPECT_EQ(FromExt(Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0, 0})), 0.0);  // an extended denormal
    EXPECT_TRUE(std::isnan(FromExt(Bytes({1, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F}))));
}

struct Record {
    int32_t key = 0;
    std::string name;
    char tag = 0;
    int64_t i = 0;
    double r = 0;
    std::string s;
};

std::vector<Record> Parse(const std::string& bytes) {
    std::vector<Record> out;
    ByteReader rd(bytes);
    while (!rd.atEnd()) {
        Record rec{};
        uint8_t tag = 0;
        EXPECT_TRUE(rd.i32(rec.key) && rd.str32(rec.name) && rd.u8(tag));
        if (!rd.ok()) break;
        rec.tag = char(tag);
        switch (rec.tag) {
            case 'I': {
                int32_t v;
                EXPECT_TRUE(rd.i32(v));
                rec.i = v;
                break;
            }
            case 'W': {
                uint16_t v;
                EXPECT_TRUE(rd.u16(v));
                rec.i = v;
                break;
            }
            case 'O': {
                int32_t v;
                EXPECT_TRUE(rd.i32(v));
                rec.i = v;
                break;
            }
            case 'E': {
                uint8_t b[10];
                EXPECT_TRUE(rd.bytes(b, 10));
                rec.r = ExtendedToDouble(b);
                break;
            }
            case 'S': EXPECT_TRUE(rd.str32(rec.s)); break;
            default: ADD_FAILURE() << "tag " << int(tag); return out;
        }
        out.push_back(rec);
    }
    return out;
}

std::vector<std::string> NamesOf(const std::vector<Record>& recs, int32_t key) {
    std::vector<std::string> n;
    for (const Record& r : recs)
        if (r.key == key) n.push_back(r.name);
    return n;
}
const Record* Find(const std::vector<Record>& recs, int32_t key, const std::string& name) {
    for (const Record& r : recs)
        if (r.key == key && r.name == name) return &r;
    return nullptr;
}

Rec StateGame() {
    Rec root{"TNBDB"};
    root.I("Key", 1000).S("Id", "G").I("CurKey", 77).S("FileRS", "save.dat").S("exAfterLoad", "Mark('load')");
    Rec s{"TNBScreen"};
    s.I("Key", 1).S("Id", "S").I("X", 5).I("Y", 6).S("Tag", "tag").S("exInit", "V := 3");
    s.Child(Rec{"TNBImage"}.I("Key", 10).S("Id", "Img").R("rX", 12.5).R("rY", -3).I("MsKeep", 1).R("Scale", 2.0));
    s.Child(Rec{"TNBShape"}.I("Key", 11).R("rX", 1).I("SizeX", 40));
    s.Child(Rec{"TNBText"}.I("Key", 12).S("Text", "hi"));
    s.Child(Rec{"TNBImList"}.I("Key", 14).I("ColCount", 2).I("RowCount", 1).I("SizeX", 100));
    root.Child(s);
    Rec hidden{"TNBScreen"};
    hidden.I("Key", 5).S("Id", "Hidden").I("NotSave", 1).Child(Rec{"TNBImage"}.I("Key", 50).S("Id", "Kept"));
    root.Child(hidden);
    Rec anim{"TNBAnim"};
    anim.I("Key", 3).S("Id", "An").I("Rep", 1);
    anim.Child(Rec{"TNBAnKey"}.I("Key", 30).I("Count", 2).Child(Rec{"TNBImage"}.I("Key", 31)));
    root.Child(anim);
    return root;
}

// A world with the state game loaded and the first screen's variables set.
struct StateWorld : SceneWorld {
    StateWorld() {
        dir.write("game.nbf", Encode(StateGame()));
        EXPECT_TRUE(root->LoadGame(dir.file("game.nbf")));
        s = root->Child(0);
        img = s->Child(0);
        list = static_cast<TNBImList*>(s->Child(3));
        list->Append(img);
        s->InitPr();  // V := 3
        TVarList* vars = s->Vars();
        vars->Put({"R", ElementRef(img)});
        vars->Put({"F", TScriptValue::real(1.5)});
        vars->Put({"W", TScriptValue::uint16(7)});
        vars->Put({"STR", TScriptValue::string("text")});
        vars->Put({"B", TScriptValue::boolean(true)});
        vars->Put({"BIG", TScriptValue::int64(5000000000ll)});
    }
    TNBElement* s = nullptr;
    TNBElement* img = nullptr;
    TNBImList* list = nullptr;
};

TEST(SceneState, TheTreeWalkWritesTheSaveableValues) {
    StateWorld w;
    ASSERT_TRUE(w.root->HasStateFile());
    ASSERT_TRUE(w.root->SaveState());
    const std::string bytes = w.dir.read("save.dat");
    EXPECT_EQ(bytes, w.root->BuildState());
    const auto recs = Parse(bytes);
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(recs.front().key, 1000) << "the root comes first";

    for (const Record& r : recs) {
        for (const char* never : {"ID", "KEY", "CURKEY", "FILERS", "NOTSAVE", "INTERPOL", "INTERPOLSC", "MSKEEP"})
            EXPECT_NE(r.name, never) << r.key;
        EXPECT_NE(r.name.rfind("EX", 0), 0u) << r.key << " " << r.name;
    }
    // Root: X, Y, Vis, InitScreen, hxTransLev, FileFonts... in class order.
    EXPECT_EQ(NamesOf(recs, 1000), (std::vector<std::string>{"X", "Y", "VIS", "INITSCREEN", "FILEFONTS",
                                                               "HXTRANSLEV", "DEFLANG", "LANG", "LOADINGSCREEN",
                                                               "INIFILE", "SOUNDFILE"}));
    // Screens write X and Y; images, shapes and texts their reals instead.
    EXPECT_NE(Find(recs, 1, "X"), nullptr);
    EXPECT_EQ(Find(recs, 1, "X")->i, 5);
    EXPECT_EQ(Find(recs, 10, "X"), nullptr);
    EXPECT_EQ(Find(recs, 10, "Y"), nullptr);
    ASSERT_NE(Find(recs, 10, "RX"), nullptr);
    EXPECT_EQ(Find(recs, 10, "RX")->tag, 'E');
    EXPECT_EQ(Find(recs, 10, "RX")->r, 12.5);
    EXPECT_EQ(Find(recs, 10, "SCALE")->r, 2.0);
    EXPECT_EQ(Find(recs, 11, "X"), nullptr);
    EXPECT_NE(Find(recs, 11, "RX"), nullptr);
    EXPECT_EQ(Find(recs, 12, "X"), nullptr);
    EXPECT_EQ(Find(recs, 12, "TEXT")->s, "hi");
    EXPECT_EQ(Find(recs, 12, "VIS")->tag, 'I');
    // NotSave: nothing of its own, its children all the same.
    EXPECT_TRUE(NamesOf(recs, 5).empty());
    EXPECT_FALSE(NamesOf(recs, 50).empty());
    // Animation keys and their parts are left out; the animation is not.
    EXPECT_TRUE(NamesOf(recs, 30).empty());
    EXPECT_TRUE(NamesOf(recs, 31).empty());
    EXPECT_NE(Find(recs, 3, "REP"), nullptr);
    // The image list's entries come after its properties.
    auto listNames = NamesOf(recs, 14);
    ASSERT_FALSE(listNames.empty());
    EXPECT_EQ(listNames.back(), "ELEMENTS");
    EXPECT_EQ(Find(recs, 14, "ELEMENTS")->s, "10;");

    // Variables after the properties, in table order, each with its tag.
    auto sn = NamesOf(recs, 1);
    std::vector<std::string> tail(sn.end() - 7, sn.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"V", "R", "F", "W", "STR", "B", "BIG"}));
    EXPECT_EQ(Find(recs, 1, "V")->tag, 'I');
    EXPECT_EQ(Find(recs, 1, "R")->tag, 'O');
    EXPECT_EQ(Find(recs, 1, "R")->i, 10);
    EXPECT_EQ(Find(recs, 1, "F")->tag, 'E');
    EXPECT_EQ(Find(recs, 1, "W")->tag, 'W');
    EXPECT_EQ(Find(recs, 1, "W")->i, 7);
    EXPECT_EQ(Find(recs, 1, "STR")->s, "text");
    EXPECT_EQ(Find(recs, 1, "B")->i, -1) << "a Boolean is written as an integer";
    EXPECT_EQ(Find(recs, 1, "BIG")->tag, 'S');
    EXPECT_EQ(Find(recs, 1, "BIG")->s, "5000000000");

    // A reference to an element that is gone has no Key: left out.
    TNBElement* gone = w.MakeByName(w.s, "TNBEffect", "Gone", 99);
    w.s->Vars()->Put({"GONE", ElementRef(gone)});
    gone->Free();
    EXPECT_EQ(Find(Parse(w.root->BuildState()), 1, "GONE"), nullptr);
}

TEST(SceneState, LoadingRestoresValuesAndReferencesByKey) {
    StateWorld w;
    ASSERT_TRUE(w.root->SaveState());
    const std::string first = w.dir.read("save.dat");

    // Change everything the state holds.
    w.img->SetRX(99);
    SceneWorld::Set(w.s, "Tag", TPropValue::Str("other"));
    w.s->SetPos(0, 0);
    w.s->Vars()->Put({"V", TScriptValue::int32(100)});
    w.s->Vars()->Put({"R", ElementRef(w.s)});
    w.s->Vars()->Put({"B", TScriptValue::int32(0)});
    w.list->Remove(w.img);
    SceneWorld::Set(w.root->Child(2), "Rep", TPropValue::Int(0));
    w.marks.clear();
    w.ctx.imageLoad.ready = true;

    w.root->LoadState();
    EXPECT_EQ(w.img->RX(), 12.5);
    EXPECT_EQ(w.s->Tag(), "tag");
    EXPECT_EQ(w.s->X(), 5);
    EXPECT_EQ(Val(w.s, "V").rawInt(), 3);
    TScriptValue r = Val(w.s, "R");
    ASSERT_TRUE(r.isElement());
    EXPECT_EQ(w.ctx.Element(r.elementId()), w.img);
    EXPECT_EQ(Val(w.s, "B").rawInt(), -1);
    EXPECT_EQ(Val(w.s, "W").kind(), ValueKind::UInt16);
    EXPECT_EQ(Val(w.s, "F").rawReal(), 1.5);
    ASSERT_EQ(w.list->Entries().size(), 1u);
    EXPECT_EQ(w.ctx.Element(w.list->Entries()[0].element), w.img);
    EXPECT_EQ(SceneWorld::Get(w.root->Child(2), "Rep").i, 1);
    EXPECT_TRUE(w.ctx.imageLoad.ready);
    EXPECT_FALSE(w.ctx.restoring);
    EXPECT_EQ(w.marks, std::vector<std::string>{"G:load"}) << "AfterLoad ran after the records";

    // Saving again gives the same bytes.
    ASSERT_TRUE(w.root->SaveState());
    EXPECT_EQ(w.dir.read("save.dat"), first);

    // Into a fresh game whose screen was never initialised: the properties
    // come back, the variables find no table and are dropped.
    SceneWorld fresh;
    fresh.dir.write("game.nbf", Encode(StateGame()));
    ASSERT_TRUE(fresh.root->LoadGame(fresh.dir.file("game.nbf")));
    fresh.dir.write("save.dat", first);
    fresh.root->LoadState();
    TNBElement* fs1 = fresh.root->Child(0);
    EXPECT_EQ(fs1->Vars(), nullptr);
    EXPECT_EQ(fs1->Tag(), "tag");
    EXPECT_EQ(fs1->Child(0)->RX(), 12.5);
    EXPECT_EQ(fresh.root->BuildState().size() < first.size(), true);
}

TEST(SceneState, NotSaveUnknownKeysAndTagsAreSkipped) {
    StateWorld w;
    ByteWriter bw;
    auto rec = [&](int32_t key, const std::string& name) {
        bw.i32(key);
        bw.str32(name);
    };
    rec(5, "TAG");  // first record: an element with NotSave set
    bw.u8('S');
    bw.str32("ignored");
    rec(1, "TAG");  // an unknown tag: dropped right after the tag byte...
    bw.u8('Z');
    rec(1, "TAG");  // ...so this record is read next
    bw.u8('S');
    bw.str32("restored");
    rec(12345, "TAG");  // no such element
    bw.u8('S');
    bw.str32("nowhere");
    rec(1, "NOSUCHNAME");  // nothing handles it
    bw.u8('I');
    bw.i32(4);
    rec(1, "R");  // a reference to a key that no longer exists
    bw.u8('O');
    bw.i32(4242);
    rec(10, "RX");
    bw.u8('E');
    uint8_t ext[10];
    DoubleToExtended(-7.25, ext);
    bw.bytes(ext, 10);
    rec(10, "ANIM");  // the same key again: the previous element
    bw.u8('W');
    bw.u16(3);
    const std::string bytes(reinterpret_cast<const char*>(bw.buffer().data()), bw.size());
    w.dir.write("save.dat", bytes);
    w.root->LoadState();
    EXPECT_EQ(SceneWorld::Get(w.root->Child(1), "Tag").s, "");
    EXPECT_EQ(w.s->Tag(), "restored");
    TScriptValue r = Val(w.s, "R");
    EXPECT_TRUE(r.isElement());
    EXPECT_EQ(r.elementId(), 0u);
    EXPECT_FALSE(w.s->Vars()->Exists("NOSUCHNAME")) << "an unhandled name is dropped, not added";
    EXPECT_EQ(w.img->RX(), -7.25);
    EXPECT_EQ(SceneWorld::Get(w.img, "Anim").i, 3);
}

TEST(SceneState, RecordsFindTheFirstElementOfAKeyEvenAsKeysChange) {
    SceneWorld w;
    TNBElement* s1 = w.MakeByName(w.root, "TNBScreen", "S1", 1);
    TNBElement* a = w.MakeByName(s1, "TNBEffect", "A", 3);
    TNBElement* s2 = w.MakeByName(w.root, "TNBScreen", "S2", 2);
    TNBElement* b = w.MakeByName(s2, "TNBEffect", "B", 3);
    ByteWriter bw;
    auto text = [&](int32_t key, const std::string& name, const std::string& v) {
        bw.i32(key);
        bw.str32(name);
        bw.u8('S');
        bw.str32(v);
    };
    text(3, "TAG", "first");   // duplicate keys: the first in tree order
    text(2, "TAG", "screen");  // the next sibling hint of A's screen
    text(1, "KEY", "77");      // a hand-made record renumbering S1...
    text(77, "TAG", "moved");  // ...is found under its new key
    text(3, "ID", "renamed");  // key 3 after the renumbering: still A
    w.root->ApplyState(std::string_view(reinterpret_cast<const char*>(bw.buffer().data()), bw.size()));
    EXPECT_EQ(a->Tag(), "first");
    EXPECT_EQ(b->Tag(), "");
    EXPECT_EQ(s2->Tag(), "screen");
    EXPECT_EQ(s1->Key(), 77);
    EXPECT_EQ(s1->Tag(), "moved");
    EXPECT_EQ(a->Id(), "renamed");
}

TEST(SceneState, DamagedStateFilesRestoreWhatTheyCan) {
    StateWorld w;
    const std::string good = w.root->BuildState();
    for (size_t n = 0; n <= good.size(); ++n) {
        std::unique_ptr<char[]> cut(new char[n ? n : 1]);
        std::memcpy(cut.get(), good.data(), n);
        w.root->ApplyState(std::string_view(cut.get(), n));
    }
    // Absurd lengths stop the reading without touching anything else.
    ByteWriter bw;
    bw.i32(1);
    bw.str32("TAG");
    bw.u8('S');
    bw.str32("first");
    bw.i32(1);
    bw.i32(0x7FFFFFFF);  // name length
    bw.bytes("TAG", 3);
    bw.i32(1);
    bw.i32(-8);
    w.root->ApplyState(std::string_view(reinterpret_cast<const char*>(bw.buffer().data()), bw.size()));
    EXPECT_EQ(w.s->Tag(), "first");
    ByteWriter bw2;
    bw2.i32(1);
    bw2.str32("TAG");
    bw2.u8('S');
    bw2.i32(-1);
    bw2.bytes("xyz", 3);
    w.root->ApplyState(std::string_view(reinterpret_cast<const char*>(bw2.buffer().data()), bw2.size()));
    EXPECT_EQ(w.s->Tag(), "first");

    // A truncated file on disk restores its complete records.
    const std::string truncated = good.substr(0, good.size() - 3);
    w.img->SetRX(0);
    w.dir.write("save.dat", truncated);
    w.root->LoadState();
    EXPECT_EQ(w.img->RX(), 12.5);
    EXPECT_TRUE(w.ctx.imageLoad.ready);
}

TEST(SceneState, AFailedSaveLeavesThePreviousSaveIntact) {
    StateWorld w;
    ASSERT_TRUE(w.root->SaveState());
    const std::string before = w.dir.read("save.dat");
    ASSERT_LT(before.size(), 16000u);
    // A state far larger than the file-size limit cannot be written.
    SceneWorld::Set(w.s, "Tag", TPropValue::Str(std::string(200000, 'x')));
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 16384;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = w.root->SaveState();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(w.dir.read("save.dat"), before);
    for (const std::string& name : fs::listDir(w.dir.path()))
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << "no temporary file is left behind: " << name;
    // Once it can be written, the new save replaces the old one.
    ASSERT_TRUE(w.root->SaveState());
    EXPECT_GT(w.dir.read("save.dat").size(), 200000u);
}

TEST(SceneState, WithoutAStateFileNothingHappens) {
    SceneWorld w;
    SceneWorld::Set(w.root, "exAfterLoad", TPropValue::Str("Mark('load')"));
    w.ctx.imageLoad.ready = true;
    EXPECT_FALSE(w.root->SaveState());
    w.root->LoadState();
    EXPECT_FALSE(w.ctx.restoring);
    EXPECT_TRUE(w.marks.empty());
}

}  // namespace
}  // namespace nb::scene_test
