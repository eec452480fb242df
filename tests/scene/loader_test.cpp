// The game-file reader: values in class order, child entries, containment,
// damaged and absurd files.
#include "scene_fixture.h"

namespace nb::scene_test {
namespace {

size_t CountTree(TNBElement* e) {
    size_t n = 1;
    for (size_t i = 0; i < e->ChildCount(); ++i) n += CountTree(e->Child(i));
    return n;
}

Rec SmallGame() {
    Rec root{"TNBDB"};
    root.I("Key", 1000).S("Id", "Game").I("InitScreen", 1).I("LoadingScreen", 2).S("exInit", "A := 1");
    Rec s1{"TNBScreen"};
    s1.I("Key", 1).S("Id", "Main").I("SizeX", 1024).I("Order", 2).S("exInit", "Mark('s1')").S("Tag", "t");
    Rec img{"TNBImage"};
    img.I("Key", 10).S("Id", "Btn").R("rX", 12.5).R("Scale", 1.5).S("exMouseDown", "X := X + 1");
    img.Child(Rec{"TNBImage"}.I("Key", 11).S("Id", "Inner"));
    img.Child(Rec{"TNBText"}.I("Key", 12).S("Id", "Label").S("Text", "Hello"));
    s1.Child(img);
    s1.Child(Rec{"TNBShape"}.I("Key", 13).I("SizeX", 30));
    s1.Child(Rec{"TNBImList"}.I("Key", 14).I("ColCount", 3).I("RowCount", 2).I("SizeX", 300).I("Space", 10));
    s1.Child(Rec{"TNBEffect"}.I("Key", 15).R("DAnim", 2.0));
    s1.Child(Rec{"TNBExScreen"}.I("Key", 16).I("obScreen", 2));
    s1.Child(Rec{"TNBExAnim"}.I("Key", 17).I("obAnim", 3));
    root.Child(s1);
    Rec anim{"TNBAnim"};
    anim.I("Key", 3).S("Id", "Walk").I("Rep", 1);
    anim.Child(Rec{"TNBAnKey"}.I("Key", 30).I("Count", 3).Child(Rec{"TNBImage"}.I("Key", 31).S("Id", "Arm")));
    root.Child(anim);
    root.Child(Rec{"TNBScreen"}.I("Key", 2).S("Id", "Loading"));
    return root;
}

TEST(SceneLoader, ReadsValuesInOrderAndBuildsTheTree) {
    SceneWorld w;
    const std::string bytes = Encode(SmallGame());
    w.root->LoadFromData(bytes);
    EXPECT_EQ(w.root->Key(), 1000);
    EXPECT_EQ(w.root->Id(), "Game");
    EXPECT_EQ(w.root->InitScreen(), 1);
    EXPECT_EQ(w.root->LoadingScreen(), 2);
    EXPECT_EQ(w.root->HookText(THook::Init), "A := 1");
    ASSERT_EQ(w.root->ChildCount(), 3u);
    TNBElement* s1 = w.root->Child(0);
    EXPECT_EQ(s1->ClassName(), "TNBScreen");
    EXPECT_EQ(s1->Id(), "Main");
    EXPECT_EQ(s1->GetSizeX(), 1024);
    EXPECT_EQ(s1->Tag(), "t");
    EXPECT_EQ(w.root->HighLayer(), 2) << "Order widened the layer range while reading";
    ASSERT_EQ(s1->ChildCount(), 6u);
    TNBElement* img = s1->Child(0);
    EXPECT_EQ(img->RX(), 12.5) << "rX (read after X) wins";
    EXPECT_EQ(img->X(), 12);
    ASSERT_EQ(img->ChildCount(), 2u);
    EXPECT_EQ(img->Child(1)->ClassName(), "TNBText");
    EXPECT_EQ(Val(img->Child(1), "TEXT").rawString(), "Hello");
    EXPECT_EQ(Val(s1->Child(2), "ELWIDTH").rawInt(), 93);
    TNBElement* anim = w.root->Child(1);
    ASSERT_EQ(anim->ChildCount(), 1u);
    EXPECT_EQ(SceneWorld::Get(anim->Child(0), "Count").i, 3);
    EXPECT_EQ(anim->Child(0)->Child(0)->Id(), "Arm");
    EXPECT_EQ(CountTree(w.root), 14u);
}

TEST(SceneLoader, SkipsChildrenOfWrongClassParentOrCaseWithTheirSubtrees) {
    SceneWorld w;
    Rec root{"TNBDB"};
    root.Child(Rec{"TNBScreen"}.S("Id", "S1").Child(Rec{"TNBImage"}.S("Id", "I1")));
    // An image may not sit directly under the root.
    root.Child(Rec{"TNBImage"}.S("Id", "Stray").Child(Rec{"TNBImage"}.S("Id", "StrayChild")));
    // The class match is case-sensitive.
    Rec wrongCase{"TNBScreen"};
    wrongCase.writtenName = "TNBscreen";
    wrongCase.S("Id", "Cased").Child(Rec{"TNBImage"}.S("Id", "CasedChild"));
    root.Child(wrongCase);
    // Not a class at all.
    Rec unknown{"TNBScreen"};
    unknown.writtenName = "TNBWidget";
    root.Child(unknown);
    root.Child(Rec{"TNBScreen"}.S("Id", "S2"));
    w.root->LoadFromData(Encode(root));
    ASSERT_EQ(w.root->ChildCount(), 2u);
    EXPECT_EQ(w.root->Child(0)->Id(), "S1");
    EXPECT_EQ(w.root->Child(1)->Id(), "S2");
    EXPECT_EQ(CountTree(w.root), 4u);
    EXPECT_EQ(w.ctx.LiveElements(), 4u);
}

TEST(SceneLoader, ValueCountsBelowAndAboveTheClassCount) {
    SceneWorld w;
    // C = P with no children: every property set, an empty root.
    Rec full{"TNBDB"};
    full.I("Key", 5).S("Id", "G").I("CurKey", 77).I("InitScreen", 3).I("LoadingScreen", 4).I("hxTransLev", 200);
    w.root->LoadFromData(Encode(full));
    EXPECT_EQ(w.root->ChildCount(), 0u);
    EXPECT_EQ(SceneWorld::Get(w.root, "CurKey").i, 77);
    EXPECT_EQ(SceneWorld::Get(w.root, "hxTransLev").i, 200);
    EXPECT_EQ(w.root->InitScreen(), 3);

    // C < P: the rest keeps the construction defaults.
    Rec screen{"TNBScreen"};
    Rec text{"TNBText"};
    text.count = 30;
    text.I("PosHor", 2).I("PosVert", 2).S("TextId", "A.B").S("Text", "never read").R("Scale", 3.0);
    screen.Child(text);
    screen.count = 7;  // Key .. SizeX
    screen.I("SizeX", 640).I("SizeY", 480);
    Rec root{"TNBDB"};
    root.Child(screen);
    w.root->LoadFromData(Encode(root));
    ASSERT_EQ(w.root->ChildCount(), 1u);
    TNBElement* s = w.root->Child(0);
    EXPECT_EQ(s->GetSizeX(), 640);
    EXPECT_EQ(s->GetSizeY(), 0);
    ASSERT_EQ(s->ChildCount(), 1u);
    TNBElement* t = s->Child(0);
    EXPECT_EQ(SceneWorld::Get(t, "PosHor").i, 2);
    EXPECT_EQ(SceneWorld::Get(t, "PosVert").i, 0);
    EXPECT_EQ(SceneWorld::Get(t, "TextId").s, "");
    EXPECT_EQ(SceneWorld::Get(t, "Scale").r, 1.0);

    // C <= 0 reads no values; the children still follow.
    ByteWriter bw;
    bw.str32("TNBScreen");
    bw.i32(-5);
    std::string child = Encode(Rec{"TNBImage"}.S("Id", "Kid"));
    bw.i32(int32_t(child.size()));
    bw.bytes(child.data(), child.size());
    TNBElement* s2 = w.root->CreateChild("TNBScreen");
    s2->LoadFromData(std::string_view(reinterpret_cast<const char*>(bw.buffer().data()), bw.buffer().size()));
    ASSERT_EQ(s2->ChildCount(), 1u);
    EXPECT_EQ(s2->Child(0)->Id(), "Kid");
    EXPECT_EQ(s2->Id(), "");

    // C above P: only P values are read.
    Rec big{"TNBScreen"};
    big.count = 1000;
    big.S("Id", "Big").Child(Rec{"TNBImage"}.S("Id", "BigKid"));
    TNBElement* s3 = w.root->CreateChild("TNBScreen");
    s3->LoadFromData(Encode(big));
    EXPECT_EQ(s3->Id(), "Big");
    ASSERT_EQ(s3->ChildCount(), 1u);
}

TEST(SceneLoader, TextIdsInTheRootsEarlyHooksAreReadBeforeTheLanguage) {
    SceneWorld w;
    w.dir.write("eng.lng", "[Menu]\r\nTitle=Start\r\n");
    Rec root{"TNBDB"};
    root.S("Id", "G").S("Lang", "eng.lng").S("exInit", "Mark(\"Menu.Title\")");
    root.Child(Rec{"TNBScreen"}.S("Id", "S").S("exInit", "Mark(\"Menu.Title\")"));
    w.dir.write("game.nbf", Encode(root));
    ASSERT_TRUE(w.root->LoadGame(w.dir.file("game.nbf")));
    EXPECT_EQ(w.root->Lang(), "eng.lng");
    w.root->Init();
    EXPECT_EQ(w.marks, (std::vector<std::string>{"G:", "S:Start"}));
    EXPECT_FALSE(w.ctx.restoring) << "restoring is lowered after the load";
}

TEST(SceneLoader, LoadGameFreesTheOldTreeAndFixesTheGameFolder) {
    SceneWorld w;
    TempDir other;
    other.write("Game.NBF", Encode(SmallGame()));
    ASSERT_TRUE(w.root->LoadGame(other.file("game.nbf"))) << "the file is found without regard to case";
    EXPECT_EQ(w.ctx.GameFolder(), other.path());
    EXPECT_EQ(w.ctx.GameFolderKey(), asciiUpper(other.path()));
    EXPECT_EQ(CountTree(w.root), 14u);
    ASSERT_TRUE(w.root->LoadGame(other.file("game.nbf")));
    EXPECT_EQ(w.ctx.LiveElements(), 14u) << "the first tree was freed";
    EXPECT_FALSE(w.root->LoadGame(other.file("missing.nbf")));
    EXPECT_EQ(w.root->ChildCount(), 0u);
    EXPECT_EQ(w.ctx.LiveElements(), 1u);
}

TEST(SceneLoader, TruncatedAtEveryByteLoadsAPrefixAndNeverReadsOutside) {
    SceneWorld w;
    const std::string bytes = Encode(SmallGame());
    size_t previous = 0;
    for (size_t n = 0; n <= bytes.size(); ++n) {
        w.root->FreeChildren();
        // A heap copy of exactly n bytes, so AddressSanitizer sees any read past it.
        std::unique_ptr<char[]> cut(new char[n ? n : 1]);
        std::memcpy(cut.get(), bytes.data(), n);
        w.root->LoadFromData(std::string_view(cut.get(), n));
        const size_t count = CountTree(w.root);
        EXPECT_GE(count, previous) << "at " << n;
        EXPECT_EQ(count, w.ctx.LiveElements());
        previous = count;
    }
    EXPECT_EQ(previous, 14u);
}

TEST(SceneLoader, DamagedLengthsEndOnlyTheirRecord) {
    SceneWorld w;
    auto load = [&](const ByteWriter& bw) {
        w.root->FreeChildren();
        w.root->LoadFromData(std::string_view(reinterpret_cast<const char*>(bw.buffer().data()), bw.buffer().size()));
    };
    const std::string good = Encode(Rec{"TNBScreen"}.S("Id", "Good"));
    auto rootHeader = [](ByteWriter& bw) {
        bw.str32("TNBDB");
        bw.i32(0);
    };
    {  // a negative entry length ends the record; what came before stays
        ByteWriter bw;
        rootHeader(bw);
        bw.i32(int32_t(good.size()));
        bw.bytes(good.data(), good.size());
        bw.i32(-4);
        bw.i32(int32_t(good.size()));
        bw.bytes(good.data(), good.size());
        load(bw);
        EXPECT_EQ(w.root->ChildCount(), 1u);
    }
    {  // an entry running past the end
        ByteWriter bw;
        rootHeader(bw);
        bw.i32(int32_t(good.size()));
        bw.bytes(good.data(), good.size());
        bw.i32(int32_t(good.size()) + 1000);
        bw.bytes(good.data(), good.size());
        load(bw);
        EXPECT_EQ(w.root->ChildCount(), 1u);
    }
    {  // a class-name length byte beyond its entry, and an entry too short
       // to name a class: skipped, the next sibling loads
        ByteWriter bw;
        rootHeader(bw);
        std::string bad = good;
        bad[0] = char(200);
        bw.i32(int32_t(bad.size()));
        bw.bytes(bad.data(), bad.size());
        bw.i32(2);
        bw.u16(0x0909);
        bw.i32(0);
        bw.i32(int32_t(good.size()));
        bw.bytes(good.data(), good.size());
        load(bw);
        ASSERT_EQ(w.root->ChildCount(), 1u);
        EXPECT_EQ(w.root->Child(0)->Id(), "Good");
    }
    {  // a string value with an absurd length ends the child's record, the
       // child itself stays
        ByteWriter child;
        child.str32("TNBScreen");
        child.i32(23);
        child.i32(7);           // Key
        child.i32(0x7FFFFFF0);  // Id: a length far beyond the record
        ByteWriter bw;
        rootHeader(bw);
        bw.i32(int32_t(child.size()));
        bw.bytes(child.buffer().data(), child.size());
        bw.i32(int32_t(good.size()));
        bw.bytes(good.data(), good.size());
        load(bw);
        ASSERT_EQ(w.root->ChildCount(), 2u);
        EXPECT_EQ(w.root->Child(0)->Key(), 7);
        EXPECT_EQ(w.root->Child(1)->Id(), "Good");
    }
    {  // a root whose class name is already damaged reads nothing
        ByteWriter bw;
        bw.i32(-1);
        bw.i32(0);
        load(bw);
        EXPECT_EQ(w.root->ChildCount(), 0u);
    }
}

TEST(SceneLoader, AbsurdNestingIsCutOff) {
    SceneWorld w;
    // Root > screen > 100,000 images each inside the previous one. Every
    // record is its header (name, C = 0) and the entry of the next one.
    const int depth = 100000;
    ByteWriter head;
    head.str32("TNBImage");
    head.i32(0);
    const size_t h = head.size();
    auto recordSize = [&](int level) { return (size_t(depth - 1 - level)) * (h + 4) + h; };
    ByteWriter bw;
    bw.str32("TNBDB");
    bw.i32(0);
    ByteWriter screen;
    screen.str32("TNBScreen");
    screen.i32(0);
    bw.i32(int32_t(screen.size() + 4 + recordSize(0)));
    bw.bytes(screen.buffer().data(), screen.size());
    bw.i32(int32_t(recordSize(0)));
    for (int level = 0; level < depth; ++level) {
        bw.bytes(head.buffer().data(), h);
        if (level + 1 < depth) bw.i32(int32_t(recordSize(level + 1)));
    }
    w.root->LoadFromData(std::string_view(reinterpret_cast<const char*>(bw.buffer().data()), bw.buffer().size()));
    size_t chain = 0;
    TNBElement* e = w.root;
    while (e->ChildCount() == 1) {
        e = e->Child(0);
        ++chain;
    }
    EXPECT_GT(chain, 100u);
    EXPECT_LE(chain, 300u);
    EXPECT_EQ(w.ctx.loadDepth, 0);
}

}  // namespace
}  // namespace nb::scene_test
