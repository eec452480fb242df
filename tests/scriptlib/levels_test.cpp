// The level procedures on small element trees built like the levels that use
// them: towers, group labelling, dragging, untangle graphs, the pipe puzzle,
// progress bars, the sliding rows and the falling board.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "archive/ResArchive.h"
#include "media/Sound.h"
#include "media/UnitNBIm.h"
#include "platform/Audio.h"
#include "platform/FileSystem.h"
#include "platform/Graphics.h"
#include "platform/Png.h"
#include "platform/Text.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"
#include "render/RenderImages.h"
#include "scene/Anim.h"
#include "scene/UnitNBDB.h"
#include "scriptlib/Builtins.h"
#include "scriptlib/LevelProcedures.h"

using namespace nb;

namespace {

// Keeps every untextured triangle the canvas hands over.
struct Triangle {
    uint32_t effect = 0;
    uint32_t color = 0;
    TPoint2 p[3];
};

class TriangleRecorder final : public GraphicsBackend {
public:
    bool IsNull() const override { return false; }
    std::string Describe() const override { return "triangle recorder"; }
    GfxTexture CreateTexture(int w, int h, const uint32_t* argb) override {
        return (w > 0 && h > 0 && argb) ? ++last_ : 0;
    }
    bool UpdateTexture(GfxTexture, int, int, const uint32_t*) override { return true; }
    void DeleteTexture(GfxTexture) override {}
    void BeginFrame(bool, uint32_t) override {}
    void DrawBatch(const GfxDrawState& st, const GfxVertex* v, size_t, const uint32_t* idx, size_t ni) override {
        if (st.primitive != GfxPrimitive::Triangles || st.texture) return;
        for (size_t i = 0; i + 3 <= ni; i += 3) {
            Triangle t;
            t.effect = st.effect & ~(1u << 28);  // without the modulate bit
            t.color = v[idx[i]].color;
            for (int k = 0; k < 3; ++k) t.p[k] = {v[idx[i + size_t(k)]].x, v[idx[i + size_t(k)]].y};
            triangles.push_back(t);
        }
    }
    void EndFrame() override {}
    bool ReadFrame(std::vector<uint32_t>& argb) override {
        argb.clear();
        return false;
    }
    void PresentToWindow(int, int) override {}

    std::vector<Triangle> triangles;

private:
    GfxTexture last_ = 0;
};

class Levels : public ::testing::Test {
protected:
    Levels() : registry(images, archive, ctx.imageLoad) {
        char tmpl[] = "/tmp/nb-levels-XXXXXX";
        const char* made = mkdtemp(tmpl);
        folder = made ? std::string(made) + "/" : std::string("/tmp/");
        registry.SetGameFolder(folder, asciiUpper(folder));
        ctx.device = &device;
        ctx.canvas = &canvas;
        ctx.images = &images;
        ctx.archive = &archive;
        ctx.imageRegistry = &registry;
        device.Initialize();
        RegisterBuiltinsInPool(ctx);
        root = &ctx.CreateRoot();
        screen = Make<TNBScreen>(root, "S");
    }
    ~Levels() override {
        ctx.FreeRoot();
        (void)std::system(("rm -rf '" + folder + "'").c_str());
    }

    template <class T>
    T* Make(TNBElement* parent, const std::string& id) {
        T* e = TNBElement::Create<T>(ctx, parent);
        e->SetId(id);
        return e;
    }
    // An image with an opaque w x h picture (no picture when w is 0).
    TNBImage* Img(TNBElement* parent, const std::string& id, int x = 0, int y = 0, int w = 0, int h = 0) {
        TNBImage* e = Make<TNBImage>(parent, id);
        if (w > 0) {
            const std::string name = std::to_string(w) + "x" + std::to_string(h) + ".png";
            if (!fs::fileExists(folder + name)) {
                std::vector<uint32_t> px(size_t(w) * size_t(h), 0xFFFFFFFFu);
                EXPECT_TRUE(WritePng(folder + name, w, h, px));
            }
            e->WritePropByName("imImage", TPropValue::Str(name));
        }
        e->SetPos(x, y);
        return e;
    }
    static void Var(TNBElement* e, const std::string& name, TScriptValue v) {
        if (!e->Vars()) e->ReplaceVars(std::make_shared<TVarList>());
        e->Vars()->Put(TVar{name, std::move(v)});
    }
    static void Var(TNBElement* e, const std::string& name, int32_t v) { Var(e, name, TScriptValue::int32(v)); }
    static void Ref(TNBElement* e, const std::string& name, TNBElement* target) { Var(e, name, ElementRef(target)); }
    // A value as a script on the element reads it.
    static TScriptValue Val(TNBElement* e, const char* upperName) {
        TScriptValue v = TScriptValue::string("<missing>");
        e->GetValue(upperName, v);
        return v;
    }
    static int32_t Int(TNBElement* e, const char* upperName) { return ScriptIntOf(Val(e, upperName)); }
    static std::string Str(TNBElement* e, const char* upperName) { return Val(e, upperName).toString(); }
    static void SetI(TNBElement* e, const char* upperName, int32_t v) {
        TScriptValue s = TScriptValue::int32(v);
        ASSERT_TRUE(e->SetValue(upperName, s)) << upperName;
    }
    static void SetS(TNBElement* e, const char* upperName, const std::string& v) {
        TScriptValue s = TScriptValue::string(v);
        ASSERT_TRUE(e->SetValue(upperName, s)) << upperName;
    }

    // Runs `script` with the variable E holding `arg`, as a level's hook
    // would call a procedure; the run must end without an error.
    void Call(const std::string& proc, TNBElement* arg, int times = 1) {
        TScriptEngine* eng = ctx.Engine(0);
        for (int i = 0; i < times; ++i) {
            eng->Vars().Clear();
            eng->Vars().Put(TVar{"E", ElementRef(arg)});
            ASSERT_TRUE(eng->Run(eng->Compile(proc + "(E);"))) << eng->ErrorMessage();
        }
    }

    std::vector<Triangle> Frame(const std::function<void()>& draw) {
        backend.triangles.clear();
        device.OnRender = draw;
        device.Render(0, true);
        device.OnRender = nullptr;
        return backend.triangles;
    }

    TriangleRecorder backend;
    TRenderDevice device{&backend};
    TRenderCanvas canvas{&device};
    TRenderImages images{&device};
    TResArchive archive;
    TSceneContext ctx;
    TImageRegistry registry;
    TNBDB* root = nullptr;
    TNBScreen* screen = nullptr;
    std::string folder;
};

const char* const kProcedures[] = {
    "MagicLev6_1",   "MagicLev6_2",         "MagicLev6_3",        "MagicLev6Log_Rend", "MagicLev6Log_Upd",
    "MagicLev4In_3", "MagicLev4InLog_Rend", "MagicLev4InLog_Upd", "MagicLev7Log",      "MagicLev15Log",
    "MagicLev12Log", "MagicGIProg",         "MagicLevProg",       "MagicMapProg",      "MagicLev6InLog",
    "MagicLev6InLogO",
};

}  // namespace

TEST_F(Levels, EveryInterpreterKnowsTheProceduresAndUnusableArgumentsDoNothing) {
    TNBImage* img = Img(screen, "I", 5, 6);
    ctx.currentElement = root;
    for (int i = 0; i < TSceneContext::kPoolSize; ++i) {
        TScriptEngine* eng = ctx.Engine(i);
        for (const char* p : kProcedures) {
            // No argument, a number, a string, and elements of the wrong kind.
            const std::string src = std::string(p) + "; " + p + "(5); " + p + "('x'); " + p + "(NBDB); " + p +
                                    "(NBDB.S); r := 1;";
            eng->Vars().Clear();
            ASSERT_TRUE(eng->Run(eng->Compile(src))) << p << ": " << eng->ErrorMessage();
            ASSERT_NE(eng->Vars().Find("R"), nullptr) << p;
        }
    }
    ctx.currentElement = nullptr;
    // An image without any of the values a level needs is left as it was.
    for (const char* p : kProcedures) Call(p, img);
    EXPECT_EQ(Int(img, "X"), 5);
    EXPECT_EQ(Int(img, "Y"), 6);
    EXPECT_EQ(Int(img, "HXTRANS"), 255);
    EXPECT_EQ(img->Vars(), nullptr);
}

// ------------------------------------------------------------------ towers

class Towers : public Levels {
protected:
    Towers() {
        ctl = Img(screen, "Ctl");
        holder = Img(screen, "Discs");
        TNBImage* lel = Img(screen, "LRef");
        Ref(lel, "L", holder);
        base = Img(screen, "Base", 0, 500, 300, 20);
        done = Img(screen, "Done");
        done->SetVis(false);
        wide = Img(holder, "D100", 100, 420, 100, 32);
        mid = Img(holder, "D80", 100, 390, 80, 32);
        small = Img(holder, "D60", 100, 360, 60, 32);
        logi = Make<TNBScreen>(root, "LogInterface");
        Var(logi, "WIN", 0);
        TNBScreen* lev7 = Make<TNBScreen>(root, "Level7");
        hanoy = Img(lev7, "HanoyLog");
        Ref(ctl, "L", lel);
        Ref(ctl, "S1", base);
        Ref(ctl, "LL", done);
        Var(ctl, "OBJ", 0);
        Var(ctl, "V", 0);
        Var(ctl, "T", 0);
        Var(ctl, "CX", 0);
        Var(ctl, "TY", 0);
    }
    void Move(TNBElement* disc, int32_t v, int32_t t, int32_t cx) {
        Ref(ctl, "OBJ", disc);
        Var(ctl, "V", v);
        Var(ctl, "T", t);
        Var(ctl, "CX", cx);
    }
    TNBImage *ctl, *holder, *base, *done, *wide, *mid, *small, *hanoy;
    TNBScreen* logi;
};

TEST_F(Towers, NothingMovesWithoutADisc) {
    Var(ctl, "V", 1);
    Var(ctl, "T", 1);
    Var(ctl, "CX", 500);
    Call("MagicLev7Log", ctl, 3);
    Call("MagicLev15Log", ctl, 3);
    EXPECT_EQ(Int(ctl, "V"), 1);
    EXPECT_EQ(Int(ctl, "T"), 1);
    for (TNBElement* d : {wide, mid, small}) EXPECT_EQ(Int(d, "X"), 100);
    EXPECT_EQ(Int(small, "Y"), 360);
}

TEST_F(Towers, LiftWaitsUntilHighThenTravelsInShrinkingSteps) {
    Move(small, 1, 1, 500);
    // Rising 10 per tick; sideways only once Y is at most 150.
    for (int i = 0; i < 20; ++i) {
        Call("MagicLev7Log", ctl);
        EXPECT_EQ(Int(small, "Y"), 350 - 10 * i);
        EXPECT_EQ(Int(small, "X"), 100) << i;  // Y still above 150
    }
    Call("MagicLev7Log", ctl);  // Y 150: the first step, a tenth of 400
    EXPECT_EQ(Int(small, "Y"), 150);
    EXPECT_EQ(Int(small, "X"), 140);
    Call("MagicLev7Log", ctl);
    EXPECT_EQ(Int(small, "X"), 176);
    EXPECT_EQ(Int(ctl, "V"), 1);
    EXPECT_EQ(Int(ctl, "T"), 1);

    // A tenth of exactly 7.5 rounds to the even 8.
    small->SetPos(425, 100);
    Var(ctl, "V", 2);
    Call("MagicLev7Log", ctl);
    EXPECT_EQ(Int(small, "X"), 433);
    // Small tenths double until they reach 3; closer than 4 snaps onto CX.
    small->SetPos(490, 100);
    Call("MagicLev7Log", ctl);
    EXPECT_EQ(Int(small, "X"), 494);
    Call("MagicLev7Log", ctl);
    EXPECT_EQ(Int(small, "X"), 500);
    // Travelling left.
    small->SetPos(500, 100);
    Var(ctl, "CX", 100);
    Call("MagicLev7Log", ctl);
    EXPECT_EQ(Int(small, "X"), 460);
}

TEST_F(Towers, LiftedDiscBobsBetween100And115) {
    Move(small, 1, 0, 100);
    small->SetPos(100, 125);
    Call("MagicLev7Log", ctl, 3);  // 115, 105, 95
    EXPECT_EQ(Int(small, "Y"), 95);
    EXPECT_EQ(Int(ctl, "V"), 2);
    std::vector<int32_t> ys;
    for (int i = 0; i < 60; ++i) {
        Call("MagicLev7Log", ctl);
        ys.push_back(Int(small, "Y"));
    }
    EXPECT_EQ(ys[18], 114);
    EXPECT_EQ(ys[19], 115);
    EXPECT_EQ(ys[20], 114);
    EXPECT_EQ(ys[34], 100);
    EXPECT_EQ(ys[35], 101);
    for (size_t i = 19; i < ys.size(); ++i) {
        EXPECT_GE(ys[i], 100);
        EXPECT_LE(ys[i], 115);
    }
    EXPECT_EQ(Int(small, "X"), 100);  // T 0: it only hovers
}

TEST_F(Towers, DropStacksOnWiderDiscsAndSolvesThePuzzle) {
    wide->SetPos(500, 450);
    mid->SetPos(500, 420);
    small->SetPos(500, 110);
    Move(small, 2, 1, 500);
    Call("MagicLev7Log", ctl);
    // Arrived: no more bobbing, sinking 5 per tick.
    EXPECT_EQ(Int(ctl, "V"), 0);
    EXPECT_EQ(Int(ctl, "T"), 2);
    EXPECT_EQ(Int(small, "Y"), 116);
    Call("MagicLev7Log", ctl, 6);
    EXPECT_EQ(Int(small, "Y"), 146);
    EXPECT_EQ(Int(ctl, "T"), 2);
    Call("MagicLev7Log", ctl);
    EXPECT_EQ(Int(small, "Y"), 151);
    // The drop is tested on the same tick: base 500 + 20 - 20, then each disc
    // on the peg adds 2 + 32 / 1.276 (rounded at every step: 472.92 -> 473,
    // 445.92 -> 446, 418.92 -> 419).
    EXPECT_EQ(Int(ctl, "T"), 4);
    EXPECT_EQ(Int(ctl, "TY"), 419);
    Call("MagicLev7Log", ctl, 26);
    EXPECT_EQ(Int(small, "Y"), 411);
    EXPECT_EQ(Int(ctl, "T"), 4);
    EXPECT_EQ(Int(logi, "WIN"), 0);
    Call("MagicLev7Log", ctl);
    EXPECT_EQ(Int(small, "Y"), 419);
    EXPECT_EQ(Int(ctl, "T"), 0);
    EXPECT_EQ(Int(ctl, "OBJ"), 0);
    EXPECT_EQ(Int(logi, "WIN"), 1);
    EXPECT_EQ(Val(logi, "WIN").kind(), ValueKind::UInt8);
    EXPECT_TRUE(done->Vis());
    EXPECT_FALSE(hanoy->Vis());
}

TEST_F(Towers, DropOntoANarrowerDiscIsRefusedAndAnUnfinishedTowerDoesNotWin) {
    // The wide disc onto the peg holding the small one.
    small->SetPos(300, 450);
    wide->SetPos(300, 146);
    Move(wide, 0, 2, 300);
    Call("MagicLev7Log", ctl);
    EXPECT_EQ(Int(ctl, "T"), 0);
    EXPECT_EQ(Int(ctl, "V"), 1);
    EXPECT_EQ(Int(ctl, "OBJ"), int32_t(wide->Ident()));  // the move stays open
    Call("MagicLev7Log", ctl, 10);
    EXPECT_LE(Int(wide, "Y"), 115);
    EXPECT_EQ(Int(wide, "X"), 300);

    // The small disc dropped at 500 while others still stand left of it.
    small->SetPos(500, 400);
    Move(small, 0, 4, 500);
    Var(ctl, "TY", 405);
    Call("MagicLev7Log", ctl);
    EXPECT_EQ(Int(small, "Y"), 405);
    EXPECT_EQ(Int(ctl, "T"), 0);
    EXPECT_EQ(Int(ctl, "OBJ"), 0);
    EXPECT_EQ(Int(logi, "WIN"), 0);
    EXPECT_FALSE(done->Vis());
    EXPECT_TRUE(hanoy->Vis());
}

namespace {

// Every sample "loads"; the plays are recorded.
class PlayRecorder final : public AudioBackend {
public:
    std::vector<int> volumes;
    bool Open() override { return true; }
    bool IsOpen() const override { return true; }
    AudioHandle LoadSampleFile(const std::string&, int) override { return 1; }
    AudioHandle LoadSampleMemory(std::span<const uint8_t>, int) override { return 1; }
    AudioHandle PlaySample(AudioHandle, int volume) override {
        volumes.push_back(volume);
        return 1;
    }
    AudioHandle CreateStreamFile(const std::string&, bool) override { return 0; }
    AudioHandle CreateStreamMemory(std::vector<uint8_t>, bool) override { return 0; }
    bool Play(AudioHandle, bool) override { return false; }
    bool Stop(AudioHandle) override { return false; }
    bool IsActive(AudioHandle) override { return false; }
    bool SetVolume(AudioHandle, int) override { return false; }
    int GetVolume(AudioHandle) override { return -1; }
    int64_t GetPosition(AudioHandle) override { return -1; }
    void Update() override {}
    void Pause() override {}
    void Resume() override {}
    bool IsPaused() const override { return false; }
};

}  // namespace

// "Lev7.LogStop" sounds on every completed drop of the first tower, won or
// not, and never for the second tower.
TEST_F(Towers, TheDropSoundPlaysOnEveryCompletedDropOfTheFirstTowerOnly) {
    PlayRecorder audio;
    TSoundManager sound(audio);
    sound.SetGameFolder(folder);
    std::filesystem::create_directories(folder + "sounds");
    ASSERT_TRUE(fs::writeFile(folder + "sounds/stop.wav", "x", 1));
    const std::string table = "[Lev7]\r\nLogStop=60:stop.wav\r\n";
    ASSERT_TRUE(fs::writeFile(folder + "snd.ini", table.data(), table.size()));
    ctx.SetGameFolder(folder);
    root->WritePropByName("SoundFile", TPropValue::Str("snd.ini"));
    ctx.sound = &sound;

    // Unfinished: the others still stand at 100.
    small->SetPos(500, 400);
    Move(small, 0, 4, 500);
    Var(ctl, "TY", 405);
    Call("MagicLev7Log", ctl);
    EXPECT_EQ(Int(ctl, "OBJ"), 0);
    EXPECT_EQ(audio.volumes, std::vector<int>{60});
    Call("MagicLev7Log", ctl, 3);  // no move: no sound
    EXPECT_EQ(audio.volumes.size(), 1u);
    // Still sinking: no sound yet; landing on the last peg wins and sounds.
    wide->SetPos(500, 450);
    mid->SetPos(500, 370);
    Move(mid, 0, 4, 500);
    Var(ctl, "TY", 385);
    Call("MagicLev7Log", ctl);
    EXPECT_EQ(audio.volumes.size(), 1u);
    Call("MagicLev7Log", ctl);
    EXPECT_EQ(Int(logi, "WIN"), 1);
    EXPECT_EQ(audio.volumes, (std::vector<int>{60, 60}));

    // The second tower drops in silence.
    small->SetPos(450, 220);
    Move(small, 0, 4, 450);
    Var(ctl, "TY", 227);
    Call("MagicLev15Log", ctl);
    EXPECT_EQ(Int(small, "Y"), 227);
    EXPECT_EQ(Int(ctl, "OBJ"), 0);
    EXPECT_EQ(audio.volumes.size(), 2u);
    ctx.sound = nullptr;
}

TEST_F(Towers, SecondTowerRestsAt227AndWantsTheWidestDiscOnTop) {
    // Bobbing between 0 and 15.
    Move(small, 1, 0, 100);
    small->SetPos(100, 20);
    Call("MagicLev15Log", ctl, 2);
    EXPECT_EQ(Int(small, "Y"), 0);
    EXPECT_EQ(Int(ctl, "V"), 2);
    Call("MagicLev15Log", ctl, 15);
    EXPECT_EQ(Int(small, "Y"), 15);
    EXPECT_EQ(Int(ctl, "V"), 3);

    // Descending ends at 25; a narrower disc may not cover a wider one.
    mid->SetPos(450, 300);
    small->SetPos(450, 20);
    Move(small, 0, 2, 450);
    Call("MagicLev15Log", ctl);
    EXPECT_EQ(Int(small, "Y"), 25);
    EXPECT_EQ(Int(ctl, "T"), 0);
    EXPECT_EQ(Int(ctl, "V"), 1);

    // The wide disc over the others is allowed, rests at 227 whatever lies
    // there, and with every disc at 450 or beyond only WIN is set.
    small->SetPos(450, 300);
    wide->SetPos(450, 20);
    Move(wide, 0, 2, 450);
    Call("MagicLev15Log", ctl);
    EXPECT_EQ(Int(ctl, "T"), 4);
    EXPECT_EQ(Int(ctl, "TY"), 227);
    Call("MagicLev15Log", ctl, 21);
    EXPECT_EQ(Int(wide, "Y"), 227);
    EXPECT_EQ(Int(ctl, "OBJ"), 0);
    EXPECT_EQ(Int(logi, "WIN"), 1);
    EXPECT_FALSE(done->Vis());
    EXPECT_TRUE(hanoy->Vis());
}

// ---------------------------------------------------------- group labels

TEST_F(Levels, GroupLabelsMergeToTheLargerNumberAndSmallGroupsBecomeX) {
    TNBImage* board = Img(screen, "Board");
    board->SetHook(THook::MouseMove, "X := MMX + 78;");
    TNBImage* cell[9][9];  // [column][row]
    for (int c = 0; c < 9; ++c) {
        TNBImage* column = Img(screen, "L" + std::to_string(c + 1));
        for (int r = 0; r < 9; ++r) {
            cell[c][r] = Img(column, "C");
            SetI(cell[c][r], "ANIM", (c + r) % 2);  // no two neighbours alike
            SetS(cell[c][r], "TAG", "old");
        }
    }
    Call("MagicLev6_2", board);
    for (int c = 0; c < 9; ++c)
        for (int r = 0; r < 9; ++r) ASSERT_EQ(Str(cell[c][r], "TAG"), "x") << c << "," << r;
    EXPECT_EQ(Int(board, "MMX"), -1);
    EXPECT_EQ(Int(board, "X"), 77);  // the board's mouse-move hook ran after

    // An L of three (one highlighted): (1,0) is numbered 1 and (0,1) 9; the
    // two labels meet at (1,1) and the group ends with the larger, 9.
    SetI(cell[1][0], "ANIM", 5);
    SetI(cell[0][1], "ANIM", 5);
    SetI(cell[1][1], "ANIM", 11);
    // Two rows of three that touch only at a corner stay apart.
    for (int c = 4; c <= 6; ++c) SetI(cell[c][4], "ANIM", 3);
    for (int r = 5; r <= 7; ++r) SetI(cell[7][r], "ANIM", 3);
    // A pair is too small.
    SetI(cell[0][8], "ANIM", 4);
    SetI(cell[1][8], "ANIM", 4);
    Call("MagicLev6_2", board);
    EXPECT_EQ(Int(cell[1][1], "ANIM"), 5);
    for (auto [c, r] : {std::pair{1, 0}, {0, 1}, {1, 1}}) EXPECT_EQ(Str(cell[c][r], "TAG"), "9") << c << "," << r;
    for (int c = 4; c <= 6; ++c) EXPECT_EQ(Str(cell[c][4], "TAG"), "40");
    for (int r = 5; r <= 7; ++r) EXPECT_EQ(Str(cell[7][r], "TAG"), "52");
    EXPECT_EQ(Str(cell[0][8], "TAG"), "x");
    EXPECT_EQ(Str(cell[1][8], "TAG"), "x");
    EXPECT_EQ(Str(cell[0][0], "TAG"), "x");
    EXPECT_EQ(Str(cell[2][1], "TAG"), "x");

    // A missing column leaves the board alone.
    screen->Child(9)->SetId("Gone");  // L9
    SetS(cell[1][1], "TAG", "keep");
    Call("MagicLev6_2", board);
    EXPECT_EQ(Str(cell[1][1], "TAG"), "keep");
}

// -------------------------------------------------------------- dragging

TEST_F(Levels, DraggingKeepsClearOfOtherPiecesAndInsideTheBoundary) {
    TNBImage* field = Img(screen, "Field", 100, 50, 400, 400);
    TNBImage* piece = Img(field, "P", 200, 200);
    TNBImage* other = Img(field, "Q", 300, 200);
    Img(field, "P", 210, 200);  // same Id as the piece: not an obstacle
    auto mouse = [&](int x, int y) {
        ctx.ui.mouseX = 100 + x;
        ctx.ui.mouseY = 50 + y;
    };
    mouse(300, 200);
    ctx.ui.mouseDown = true;
    ctx.ui.hovered = nullptr;  // not pressed on the piece
    Call("MagicLev6_3", piece);
    EXPECT_DOUBLE_EQ(piece->RX(), 200);

    ctx.ui.hovered = piece;
    // The mouse inside the other piece: halfway keeps exactly 50 away.
    Call("MagicLev6_3", piece);
    EXPECT_DOUBLE_EQ(piece->RX(), 250);
    EXPECT_DOUBLE_EQ(piece->RY(), 200);

    // Outside the circle (radius 400/2 - 50 around 200,200): a third of the
    // way is the first fraction inside.
    piece->SetPos(200, 200);
    other->SetPos(200, 300);
    mouse(600, 200);
    Call("MagicLev6_3", piece);
    EXPECT_NEAR(piece->RX(), 200 + 400.0 / 3, 1e-9);
    // Already outside: no fraction qualifies, the piece stays.
    piece->SetPos(390, 200);
    Call("MagicLev6_3", piece);
    EXPECT_DOUBLE_EQ(piece->RX(), 390);

    // The ellipse of the second level, and 28 pixels of clearance.
    TNBImage* oval = Img(screen, "Oval", 0, 0, 400, 200);
    TNBImage* p2 = Img(oval, "A", 200, 100);
    TNBImage* q2 = Img(oval, "B", 320, 100);
    ctx.ui.hovered = p2;
    ctx.ui.mouseX = 400;
    ctx.ui.mouseY = 100;
    Call("MagicLev4In_3", p2);  // 1: outside; 1/2: 20 from B; 1/3 fits
    EXPECT_NEAR(p2->RX(), 200 + 200.0 / 3, 1e-9);
    q2->SetPos(0, 0);
    p2->SetPos(200, 100);
    Call("MagicLev4In_3", p2);  // x 400 gives 4*200^2/400^2 = 1, 300 gives 0.25
    EXPECT_DOUBLE_EQ(p2->RX(), 300);
}

// ----------------------------------------------------------- untangling

TEST(LevelGeometry, SegmentCrossingRules) {
    using level::SegmentsCross;
    EXPECT_TRUE(SegmentsCross({0, 0}, {10, 10}, {0, 10}, {10, 0}));
    EXPECT_TRUE(SegmentsCross({0, 0}, {10, 0}, {5, 0}, {5, 8}));    // touching counts
    EXPECT_FALSE(SegmentsCross({0, 0}, {10, 0}, {5, 1}, {5, 8}));   // just short
    EXPECT_FALSE(SegmentsCross({0, 0}, {10, 0}, {3, 0}, {20, 0}));  // overlapping but parallel
    EXPECT_FALSE(SegmentsCross({0, 0}, {10, 10}, {0, 2}, {10, 12}));
    EXPECT_FALSE(SegmentsCross({0, 0}, {4, 4}, {6, 0}, {10, -4}));  // boxes apart
    EXPECT_FALSE(SegmentsCross({0, 0}, {10, 10}, {0, 10}, {4, 6}));  // lines meet beyond one end
    // Huge coordinates do not overflow.
    EXPECT_TRUE(SegmentsCross({INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MAX},
                              {INT32_MAX, INT32_MIN}));

    // Sharing a node never crosses, even when the edges overlap.
    std::vector<level::TIntPoint> pts{{0, 0}, {10, 0}, {20, 0}, {5, -5}, {5, 5}};
    std::vector<level::TGraphEdge> edges{{0, 2}, {0, 1}, {3, 4}, {1, 7}};
    EXPECT_EQ(level::CrossingEdges(pts, edges), (std::vector<bool>{true, true, true, false}));

    EXPECT_EQ(level::FirstGraphEdges().size(), 17u);
    EXPECT_EQ(level::SecondGraphEdges().size(), 16u);
    EXPECT_EQ(level::GlowLevel(0), 112);
    EXPECT_EQ(level::GlowLevel(29), 83);
    EXPECT_EQ(level::GlowLevel(30), 83);
    EXPECT_EQ(level::GlowLevel(59), 112);
    EXPECT_EQ(level::GlowLevel(75), 97);
}

TEST_F(Levels, UntangleGraphsReportAndDrawCrossings) {
    // Nodes on a circle, two hubs inside, one on each half: a plane drawing.
    auto build = [&](const char* id, int nodes) {
        TNBImage* graph = Img(screen, id);
        TNBImage* holder = Img(graph, "Nodes", 10, 20);
        const double pi = 3.14159265358979;
        for (int k = 0; k < 8; ++k)
            Img(holder, "N", int(300 + 200 * std::cos(k * pi / 4)), int(300 + 200 * std::sin(k * pi / 4)));
        if (nodes == 10) {
            Img(holder, "H", int(300 + 80 * std::cos(3 * pi / 8)), int(300 + 80 * std::sin(3 * pi / 8)));
            Img(holder, "H", int(300 - 80 * std::cos(3 * pi / 8)), int(300 - 80 * std::sin(3 * pi / 8)));
        } else {
            Img(holder, "H", 300, 300);
        }
        return graph;
    };
    TNBImage* g6 = build("G6", 10);
    TNBImage* g4 = build("G4", 9);
    Call("MagicLev6Log_Upd", g6);
    Call("MagicLev4InLog_Upd", g4);
    EXPECT_EQ(Int(g6, "WIN"), 1);
    EXPECT_EQ(Int(g4, "WIN"), 1);

    auto swap = [](TNBElement* a, TNBElement* b) {
        const int32_t ax = a->X(), ay = a->Y();
        a->SetPos(b->X(), b->Y());
        b->SetPos(ax, ay);
    };
    swap(g6->Child(0)->Child(0), g6->Child(0)->Child(4));
    swap(g4->Child(0)->Child(0), g4->Child(0)->Child(2));
    Call("MagicLev6Log_Upd", g6);
    Call("MagicLev4InLog_Upd", g4);
    EXPECT_EQ(Int(g6, "WIN"), 0);
    EXPECT_EQ(Int(g4, "WIN"), 0);

    // Drawing: every edge as two triangles in its colour, then the same band
    // as a grey glow following DT.
    Var(g4, "DT", 40);  // c = 40: (40 mod 30) + 83 = 93
    auto tris = Frame([&] { Call("MagicLev4InLog_Rend", g4); });
    ASSERT_EQ(tris.size(), 16u * 4u);
    int red = 0, green = 0;
    for (size_t e = 0; e < 16; ++e) {
        const Triangle& band = tris[4 * e];
        const Triangle& glow = tris[4 * e + 2];
        EXPECT_EQ(band.effect, 1284u);
        EXPECT_EQ(tris[4 * e + 1].color, band.color);
        EXPECT_EQ(glow.effect, 260u);
        EXPECT_EQ(glow.color, 0xFF5D5D5Du);
        red += band.color == 0x7F0000FFu;
        green += band.color == 0x7F00FF00u;
    }
    EXPECT_GT(red, 0);
    EXPECT_GT(green, 0);
    EXPECT_EQ(red + green, 16);
    // Edge 0 runs from node 0 to node 1; its band is 3 pixels either side of
    // the line between the node points (absolute position + 25).
    const TNBElement* n0 = g4->Child(0)->Child(0);
    const TNBElement* n1 = g4->Child(0)->Child(1);
    const double ax = 10 + n0->X() + 25, ay = 20 + n0->Y() + 25;
    const double bx = 10 + n1->X() + 25, by = 20 + n1->Y() + 25;
    const double len = std::hypot(bx - ax, by - ay);
    for (int k = 0; k < 3; ++k) {
        const TPoint2 p = tris[0].p[k];
        const double dist = std::fabs((bx - ax) * (p.y - ay) - (by - ay) * (p.x - ax)) / len;
        EXPECT_NEAR(dist, 3.0, 1e-3);
    }

    // A graph whose first child is not an image holds no nodes.
    TNBElement* bad = Img(screen, "Bad");
    Make<TNBScreen>(bad, "NotImage");
    Call("MagicLev6Log_Upd", bad);
    EXPECT_EQ(bad->Vars(), nullptr);
    EXPECT_TRUE(Frame([&] { Call("MagicLev6Log_Rend", bad); }).empty());
}

// ---------------------------------------------------------------- pipes

class Pipes : public Levels {
protected:
    Pipes() {
        board = Img(screen, "Board");
        overlays = Img(screen, "LL");
        for (int i = 0; i < 6; ++i) {
            TNBImage* col = Img(board, "C");
            TNBImage* ocol = Img(overlays, "C");
            for (int j = 0; j < 6; ++j) {
                tile[i][j] = Img(col, "T");
                SetS(tile[i][j], "TAG", "0000");
                SetI(tile[i][j], "ANIM", i);
                over[i][j] = Img(ocol, "O");
            }
        }
        end = Img(screen, "End");
        SetI(end, "HXTRANS", 7);
        prot = Img(screen, "Prot");
        logi = Make<TNBScreen>(root, "LogInterface");
        Var(logi, "WIN", 0);
        // Inlet left of (0,0), along j = 0 to (5,0), up column 5 to the outlet.
        for (int i = 0; i < 5; ++i) SetS(tile[i][0], "TAG", "0101");
        SetS(tile[5][0], "TAG", "1001");
        for (int j = 1; j < 5; ++j) SetS(tile[5][j], "TAG", "1010");
        SetS(tile[5][5], "TAG", "0110");
    }
    TNBImage *board, *overlays, *end, *prot;
    TNBImage* tile[6][6];
    TNBImage* over[6][6];
    TNBScreen* logi;
};

TEST_F(Pipes, ConnectedPipeWinsAndLightsTheWetTiles) {
    SetI(tile[2][0], "ANGLE", 90);
    Call("MagicLev12Log", board);
    EXPECT_EQ(Int(logi, "WIN"), 1);
    EXPECT_EQ(Int(end, "HXTRANS"), 255);
    EXPECT_FALSE(prot->Vis());
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < 6; ++j) {
            const bool wet = j == 0 || i == 5;
            EXPECT_EQ(Int(over[i][j], "HXTRANS"), wet ? 255 : 0) << i << "," << j;
            EXPECT_EQ(Int(over[i][j], "ANIM"), i + 6);
        }
    }
    EXPECT_EQ(Int(over[2][0], "ANGLE"), 90);
}

TEST_F(Pipes, LeaksShowTheMarkerAndPreventTheWin) {
    // An extra opening toward a closed tile.
    SetS(tile[2][0], "TAG", "1101");
    Call("MagicLev12Log", board);
    EXPECT_EQ(Int(logi, "WIN"), 0);
    EXPECT_EQ(Int(end, "HXTRANS"), 255);  // water still reaches the outlet
    EXPECT_TRUE(prot->Vis());
    EXPECT_EQ(Int(prot, "X"), 141 + 150);
    EXPECT_EQ(Int(prot, "Y"), 506);
    EXPECT_EQ(Int(prot, "ANGLE"), 0);

    // Tiles open toward the closed border below them. The trace follows
    // (0,0)'s second side through the whole pipe first (leaks at (2,0) and
    // (3,0)) and only then finds (0,0)'s own third side: the last leak wins.
    SetS(tile[0][0], "TAG", "0111");
    SetS(tile[3][0], "TAG", "0111");
    Call("MagicLev12Log", board);
    EXPECT_EQ(Int(prot, "X"), 141);
    EXPECT_EQ(Int(prot, "Y"), 506);
    EXPECT_EQ(Int(prot, "ANGLE"), 180);

    // Fixed again: the marker hides.
    SetS(tile[0][0], "TAG", "0101");
    SetS(tile[2][0], "TAG", "0101");
    SetS(tile[3][0], "TAG", "0101");
    Call("MagicLev12Log", board);
    EXPECT_FALSE(prot->Vis());
    EXPECT_EQ(Int(logi, "WIN"), 1);

    // Closed toward the inlet: nothing is traced, nothing is wet.
    Var(logi, "WIN", 0);
    SetS(tile[0][0], "TAG", "0100");
    Call("MagicLev12Log", board);
    EXPECT_EQ(Int(over[0][0], "HXTRANS"), 0);
    EXPECT_EQ(Int(end, "HXTRANS"), 0);
    EXPECT_EQ(Int(logi, "WIN"), 0);
}

TEST_F(Pipes, RotationFinishesInTenDegreeStepsThenTurnsTheOpenings) {
    SetI(tile[3][3], "ANGLE", 100);
    SetS(tile[3][3], "TAG", "1000");
    Call("MagicLev12Log", board, 7);
    EXPECT_EQ(Int(tile[3][3], "ANGLE"), 170);
    EXPECT_EQ(Str(tile[3][3], "TAG"), "1000");
    Call("MagicLev12Log", board);
    EXPECT_EQ(Int(tile[3][3], "ANGLE"), 180);
    EXPECT_EQ(Str(tile[3][3], "TAG"), "0100");
    Call("MagicLev12Log", board, 3);
    EXPECT_EQ(Int(tile[3][3], "ANGLE"), 180);
    EXPECT_EQ(Str(tile[3][3], "TAG"), "0100");

    // Without the overlay grid nothing happens at all.
    overlays->SetId("Other");
    SetI(tile[3][3], "ANGLE", 190);
    Call("MagicLev12Log", board);
    EXPECT_EQ(Int(tile[3][3], "ANGLE"), 190);
}

// ------------------------------------------------------------- progress

class Progress : public Levels {
protected:
    Progress() {
        level = Make<TNBScreen>(root, "Level1");
        krist = Img(level, "Krist");
        find = Img(level, "Items");
        SetS(find, "TAG", "FIND");
        for (int i = 0; i < 3; ++i) items[i] = Img(find, "It");
        act = Img(level, "Door");
        SetS(act, "TAG", "ACT");
        log = Img(level, "Safe");
        SetS(log, "TAG", "log");  // tags match in any letter case
        log->SetVis(false);
        group = Img(level, "Group");
        SetS(group, "TAG", "G");
        gact = Img(group, "Lever");
        SetS(gact, "TAG", "ACT");
        gact->SetVis(false);
        glog = Img(group, "Box");
        SetS(glog, "TAG", "LOG");
        Make<TNBScreen>(group, "NotAnImage");
        TNBScreen* other = Make<TNBScreen>(level, "Sub");  // not an image: ignored
        SetS(other, "TAG", "ACT");

        gi = Make<TNBScreen>(root, "GameInterface");
        bar = Img(gi, "Bar");
        prb = Img(gi, "PRB");
        prf = Img(gi, "PRF");
        pran = Make<TNBAnim>(gi, "PRAN");
        pran->SetVis(false);
        pran->SetHook(THook::Start, "Tag := Tag + 'S';");
        Ref(gi, "SCR", level);
    }
    TNBScreen* level;
    TNBImage *krist, *find, *act, *log, *group, *gact, *glog, *bar, *prb, *prf;
    TNBImage* items[3];
    TNBScreen* gi;
    TNBAnim* pran;
};

TEST_F(Progress, LevelBookkeepingCountsTheTotalAndRemembersWhatIsShown) {
    Call("MagicLevProg", level);
    EXPECT_EQ(Int(level, "ENDCN"), 3 + 3 + 5 + 10 + 5 + 10);
    EXPECT_EQ(Val(level, "ENDCN").kind(), ValueKind::Int32);
    EXPECT_EQ(Val(level, "ENDAN").kind(), ValueKind::UInt8);
    EXPECT_EQ(Int(level, "A[1]"), 1);
    EXPECT_EQ(Int(level, "LG[1]"), 0);
    EXPECT_EQ(Int(level, "A[2]"), 0);
    EXPECT_EQ(Int(level, "LG[2]"), 1);
    EXPECT_EQ(level->Vars()->Find("A[3]"), nullptr);
    // A hidden group hides its tasks too.
    group->SetVis(false);
    Call("MagicLevProg", level);
    EXPECT_EQ(Int(level, "LG[2]"), 0);
    // Only screens are counted.
    Call("MagicLevProg", bar);
    EXPECT_EQ(bar->Vars(), nullptr);
}

TEST_F(Progress, ProgressBarScoresAndStartsTheCompletionAnimationOnce) {
    Call("MagicLevProg", level);
    Call("MagicGIProg", bar);
    EXPECT_DOUBLE_EQ(Val(bar, "SCALEX").toReal(), 0.0);
    EXPECT_EQ(Int(prb, "VIS"), 1);
    EXPECT_EQ(Int(bar, "HXTRANS"), 255);
    EXPECT_FALSE(pran->Vis());

    krist->SetVis(false);                 // +3
    items[0]->SetVis(false);              // +1
    SetI(items[1], "HXTRANS", 100);       // +1
    act->SetVis(false);                   // A[1] = 1: +5
    log->SetVis(true);                    // first seen: LG[1] := 1, no score
    Call("MagicGIProg", bar);
    EXPECT_DOUBLE_EQ(Val(bar, "SCALEX").toReal(), 10.0 / 36);
    EXPECT_EQ(Int(level, "LG[1]"), 1);

    items[2]->SetVis(false);  // +1
    log->SetVis(false);       // +10
    gact->SetVis(true);       // first seen inside a visible group
    Call("MagicGIProg", bar);
    EXPECT_EQ(Int(level, "A[2]"), 1);
    EXPECT_DOUBLE_EQ(Val(bar, "SCALEX").toReal(), 21.0 / 36);
    EXPECT_EQ(Str(pran, "TAG"), "");

    group->SetVis(false);  // both tasks of the group now count: +5 +10
    Call("MagicGIProg", bar);
    EXPECT_DOUBLE_EQ(Val(bar, "SCALEX").toReal(), 1.0);
    EXPECT_EQ(Int(prb, "VIS"), 0);
    EXPECT_EQ(Int(prf, "VIS"), 0);
    EXPECT_EQ(Int(bar, "HXTRANS"), 0);
    EXPECT_TRUE(pran->Vis());
    EXPECT_TRUE(pran->Active());
    EXPECT_EQ(Str(pran, "TAG"), "S");
    EXPECT_EQ(Int(level, "ENDAN"), 1);
    Call("MagicGIProg", bar, 2);
    EXPECT_EQ(Str(pran, "TAG"), "S");  // started once only
    EXPECT_TRUE(pran->Vis());

    // The whole game: "Level..." screens without "Log" in the Id.
    TNBScreen* lev2 = Make<TNBScreen>(root, "Level2");
    TNBImage* k2 = Img(lev2, "krist");  // the Id matches in any letter case
    k2->SetVis(false);
    TNBScreen* logLevel = Make<TNBScreen>(root, "Level2Log");
    Var(logLevel, "ENDCN", 100);
    TNBScreen* lower = Make<TNBScreen>(root, "level3");
    Var(lower, "ENDCN", 100);
    TNBImage* map = Img(screen, "MapBar");
    Call("MagicMapProg", map);
    EXPECT_DOUBLE_EQ(Val(map, "SCALEX").toReal(), 39.0 / 36);
    Var(lev2, "ENDCN", 4);
    Call("MagicMapProg", map);
    EXPECT_DOUBLE_EQ(Val(map, "SCALEX").toReal(), 39.0 / 40);

    level->SetId("Done1");
    lev2->SetId("Done2");
    Call("MagicMapProg", map);
    EXPECT_EQ(Int(map, "SCALEX"), 0);
}

// --------------------------------------------------------- sliding rows

TEST_F(Levels, SlidingRowsStackSwayAndWrapTheirTiles) {
    TNBImage* board = Img(screen, "Board");
    TNBScreen* logi = Make<TNBScreen>(root, "LogInterface");
    TNBImage* hidden = Img(screen, "Partners");
    std::vector<TNBImage*> rows;
    std::vector<std::vector<TNBImage*>> tiles, partners;
    for (int r = 0; r < 8; ++r) {
        rows.push_back(Img(board, "Row"));
        tiles.emplace_back();
        partners.emplace_back();
        for (int k = 0; k < 3; ++k) {
            TNBImage* t = Img(rows[size_t(r)], "T");
            TNBImage* p = Img(hidden, "P");
            SetI(t, "ANIM", k + 1);
            SetI(p, "ANIM", 10 + k);
            p->SetVis(k != 1);
            Ref(t, "S", p);
            tiles.back().push_back(t);
            partners.back().push_back(p);
        }
    }
    rows[2]->SetVis(false);
    rows[0]->SetPos(-42, 50);  // sways to -43: wraps toward the front
    rows[1]->SetPos(42, 0);    // sways to 43: wraps toward the back
    rows[3]->SetPos(0, 300);
    for (size_t r = 4; r < 8; ++r) rows[r]->SetPos(5, 900);
    Call("MagicLev6InLog", board);

    EXPECT_EQ(Int(rows[0], "Y"), 48);  // below its place 0: rises 2
    EXPECT_EQ(Int(rows[1], "Y"), 81);  // above its place: set there
    EXPECT_EQ(Int(rows[3], "Y"), 298);
    EXPECT_EQ(Int(rows[0], "X"), -43 + 82);
    EXPECT_EQ(Int(rows[1], "X"), 43 - 82);
    EXPECT_EQ(Int(rows[3], "X"), -1);  // third visible row: toward smaller X
    EXPECT_EQ(Int(rows[4], "X"), 6);
    EXPECT_EQ(Int(rows[2], "X"), 0);  // hidden rows are skipped
    // Places 0, 81, ... 405: the sixth visible row is the last handled.
    EXPECT_EQ(Int(rows[6], "Y"), 898);
    EXPECT_EQ(Int(rows[7], "Y"), 900);
    EXPECT_EQ(Int(rows[7], "X"), 5);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(Int(tiles[0][size_t(k)], "ANIM"), (k + 1) % 3 + 1);
        EXPECT_EQ(Int(partners[0][size_t(k)], "ANIM"), 10 + (k + 1) % 3);
        EXPECT_EQ(partners[0][size_t(k)]->Vis(), (k + 1) % 3 != 1);
        EXPECT_EQ(Int(tiles[1][size_t(k)], "ANIM"), (k + 2) % 3 + 1);
        EXPECT_EQ(Int(partners[1][size_t(k)], "ANIM"), 10 + (k + 2) % 3);
    }
    EXPECT_FALSE(logi->Vars() && logi->Vars()->Find("WIN"));

    // A tile without a partner stops the rows of this call there.
    rows[0]->SetPos(-42, 0);
    Var(tiles[0][1], "S", 0);
    Call("MagicLev6InLog", board);
    EXPECT_EQ(Int(rows[0], "X"), -43);
    EXPECT_EQ(Int(tiles[0][0], "ANIM"), 2);
    EXPECT_EQ(Int(rows[1], "Y"), 81);
    EXPECT_EQ(Int(rows[1], "X"), -39);

    for (TNBImage* r : rows) r->SetVis(false);
    Call("MagicLev6InLog", board);
    EXPECT_EQ(Int(logi, "WIN"), 1);
}

TEST_F(Levels, EnteringTileFadesInAndSlidesBesideItsNeighbour) {
    TNBImage* row = Img(screen, "Row");
    TNBImage* first = Img(row, "A", 40, 0);
    TNBImage* tile = Img(row, "B", 230, 0);
    TNBImage* partner = Img(screen, "P");
    SetI(tile, "HXTRANS", 0);
    SetI(first, "HXTRANS", 250);
    Ref(tile, "S", partner);
    Var(first, "S", 0);
    SetI(first, "X", 100);
    Call("MagicLev6InLogO", tile);
    EXPECT_EQ(Int(tile, "HXTRANS"), 25);
    EXPECT_EQ(Int(partner, "HXTRANS"), 6);
    EXPECT_EQ(Int(tile, "X"), 213);
    Call("MagicLev6InLogO", tile, 2);
    EXPECT_EQ(Int(tile, "X"), 185);  // never left of the neighbour + 85
    Call("MagicLev6InLogO", tile);
    EXPECT_EQ(Int(tile, "X"), 185);

    // The first tile of a row slides to 10; its fade wraps as a byte.
    Call("MagicLev6InLogO", first);
    EXPECT_EQ(Int(first, "HXTRANS"), 19);
    EXPECT_EQ(Int(first, "X"), 83);
    SetI(first, "HXTRANS", 255);
    first->SetPos(20, 0);
    Call("MagicLev6InLogO", first);
    EXPECT_EQ(Int(first, "HXTRANS"), 255);
    EXPECT_EQ(Int(first, "X"), 10);
}

// -------------------------------------------------------- falling board

TEST_F(Levels, FallingBoardFadesOverlaysDropsCellsAndRefillsFromAbove) {
    TNBImage* level = Img(screen, "Lev");
    Var(level, "COLS", 5);
    TNBImage* column = Img(level, "Col", 0, 0, 50, 450);
    TNBImage* bottom = Img(column, "C", 0, 400, 50, 50);
    TNBImage* upper = Img(column, "C", 0, 300, 50, 50);
    TNBImage* gone = Img(column, "C", 0, 350, 50, 50);
    SetI(gone, "HXTRANS", 0);
    TNBImage* mark = Img(bottom, "O");
    SetS(mark, "TAG", "*");
    SetI(mark, "HXTRANS", 180);
    TNBImage* plain = Img(upper, "O");
    SetI(plain, "HXTRANS", 30);

    Var(column, "MOVING", 0);
    Call("MagicLev6_1", column);
    EXPECT_EQ(Int(mark, "HXTRANS"), 230);
    EXPECT_EQ(Int(plain, "HXTRANS"), 0);
    EXPECT_EQ(Int(upper, "Y"), 300);  // not moving: nothing falls
    Call("MagicLev6_1", column);
    EXPECT_EQ(Int(mark, "HXTRANS"), 250);

    ctx.randomSeed = 99;
    uint32_t seed = 99;
    seed = seed * 134775813u + 1u;
    const int32_t colour = int32_t((uint64_t(seed) * 5u) >> 32);
    Var(column, "MOVING", 1);
    Call("MagicLev6_1", column);
    // The emptied cell re-enters above the top cell and everything falls.
    EXPECT_EQ(Int(gone, "HXTRANS"), 255);
    EXPECT_EQ(Int(gone, "ANIM"), colour);
    EXPECT_EQ(Int(gone, "Y"), 260);
    EXPECT_EQ(Int(upper, "Y"), 310);
    EXPECT_EQ(Int(bottom, "Y"), 400);
    EXPECT_EQ(Int(column, "MOVING"), 1);
    EXPECT_EQ(Int(level, "MOVING"), 1);
    Call("MagicLev6_1", column, 4);
    EXPECT_EQ(Int(upper, "Y"), 350);
    EXPECT_EQ(Int(gone, "Y"), 300);
    EXPECT_EQ(Int(column, "MOVING"), 1);
    Var(level, "MOVING", 0);
    Call("MagicLev6_1", column);
    EXPECT_EQ(Int(column, "MOVING"), 0);
    EXPECT_EQ(Int(level, "MOVING"), 0);
}
