#include "app/MainForm.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "archive/ResArchive.h"
#include "media/Sound.h"
#include "media/UnitNBIm.h"
#include "platform/Audio.h"
#include "platform/FileSystem.h"
#include "platform/Png.h"
#include "platform/Text.h"
#include "platform/Window.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"
#include "render/RenderFonts.h"
#include "render/RenderImages.h"
#include "render/RenderTimers.h"
#include "scene/UnitNBDB.h"
#include "scriptlib/Builtins.h"

namespace nb {

namespace {

constexpr const char* kDeviceErrorText = "Failed initializing render device!";
constexpr const char* kCaption = "nbplayer";

// Press probe offsets, tried in this order: a press within two pixels of a
// small element that reacts to presses still reaches it.
constexpr int kProbe[9][2] = {{0, 0}, {-2, -2}, {-2, 0}, {-2, 2}, {0, -2},
                              {0, 2}, {2, -2},  {2, 0},  {2, 2}};

// Alpha of the logo at fade counter c: in over 17 ticks, out over the last 17.
int logoAlpha(int c) {
    if (c <= 17) return 15 * std::max(c, 0);
    if (c <= 82) return 255;
    return 15 * std::max(100 - c, 0);
}

}  // namespace

std::string FindGameFile(const std::string& exe, std::unique_ptr<IniFile>& editorSettings) {
    if (!exe.empty()) {
        // The executable's path with its extension replaced by ".nbf"; a
        // Linux executable usually has none, so the extension is appended.
        std::string folder = fs::folderOf(exe);
        std::string name = fs::fileNameOf(exe);
        size_t dot = name.rfind('.');
        std::string candidate = folder + (dot == std::string::npos ? name : name.substr(0, dot)) + ".nbf";
        if (fs::fileExists(candidate)) return *fs::resolve(candidate);
        // The first "*.nbf" the folder listing returns.
        for (const std::string& entry : fs::listDir(folder.empty() ? "." : folder)) {
            if (entry.size() > 4 && asciiUpper(entry.substr(entry.size() - 4)) == ".NBF") {
                std::string p = folder + entry;
                if (fs::fileExists(p)) return p;
            }
        }
    }
    // The authoring tool's settings name the game being edited.
    editorSettings = std::make_unique<IniFile>(IniFile::fromFile(fs::configDir() + "NBMaker.ini"));
    return cp1251ToUtf8(editorSettings->readString("Main", "Path", ""));
}

TFormMain::TFormMain(PlayerOptions options) : opts_(std::move(options)) {
    for (const ScreenshotRequest& r : opts_.screenshots) {
        if (r.tick == ScreenshotRequest::kAtEnd) endShots_.push_back(r.path);
        else shots_.push_back(r);
    }
    std::stable_sort(shots_.begin(), shots_.end(),
                     [](const ScreenshotRequest& a, const ScreenshotRequest& b) { return a.tick < b.tick; });
    // Program initialisation, before the window exists: the interpreter pool
    // with every built-in, and the random generator seeded from the clock.
    ctx_ = std::make_unique<TSceneContext>();
    RegisterBuiltinsInPool(*ctx_);
    ctx_->randomSeed = opts_.seed ? *opts_.seed : uint32_t(uint64_t(clock_.nowMs() * 1000.0));
}

TFormMain::~TFormMain() {
    if (started_ && !closed_) FormClose();
    // The scene goes first: its elements hold pictures of the image list.
    ctx_.reset();
    sound_.reset();
    registry_.reset();
    fonts_.reset();
    images_.reset();
    canvas_.reset();
    if (device_) device_->Finalize();
    device_.reset();
    timer_.reset();
    audio_.reset();
    window_.reset();
}

int TFormMain::Run() {
    // A game named on the command line must exist: a mistyped name would
    // otherwise play an empty game and look like a successful run.
    if (!opts_.gamePath.empty() && !fs::fileExists(opts_.gamePath)) {
        std::cerr << "nbplayer: game file '" << opts_.gamePath << "' not found\n";
        return 2;
    }
    if (!opts_.inputFile.empty()) {
        std::string error;
        if (!replay_.Load(opts_.inputFile, error)) {
            std::cerr << "nbplayer: " << error << "\n";
            return 2;
        }
        hasReplay_ = true;
    }
    if (!FormCreate()) return 1;
    // "0:FILE" is the first frame, drawn before any tick has run.
    if (!shots_.empty() && shots_.front().tick == 0) captureAfterTick_ = 0;
    if (opts_.maxTicks == 0) closing_ = true;
    while (!closing_) {
        handleWindowEvents();
        if (closing_) break;
        timer_->Idle();
    }
    // The screenshots of the last tick and of the end of the run need the
    // frame that shows the state the last tick left.
    if (captureAfterTick_ >= 0 || !endShots_.empty()) {
        if (device_->Live()) device_->Render(0, true);
        captureIfDue(true);
    }
    for (const ScreenshotRequest& r : shots_) {
        std::cerr << "nbplayer: no screenshot '" << r.path << "': the run ended after tick " << ticks_
                  << ", before tick " << r.tick << "\n";
        exitStatus_ = 1;
    }
    shots_.clear();
    FormClose();
    return exitStatus_;
}

bool TFormMain::FormCreate() {
    WindowOptions wo;
    wo.headless = opts_.headless;
    wo.windowed = true;
    wo.title = "FormMain";
    std::string error;
    window_ = PlatformWindow::Create(wo, error);
    if (!window_) {
        PlatformWindow::ShowMessageNoWindow(kCaption, kDeviceErrorText, opts_.headless);
        std::cerr << "nbplayer: " << error << "\n";
        return false;
    }
    if (!window_->GraphicsFallbackReason().empty())
        std::cerr << "nbplayer: drawing disabled: " << window_->GraphicsFallbackReason() << "\n";

    // The audio back end must start; headless uses the silent one, which
    // keeps every cache and volume working.
    audio_ = CreateAudioBackend(opts_.headless);
    if (!audio_ || !audio_->Open()) {
        window_->ShowMessage(kCaption, kAudioInitErrorText);
        return false;
    }

    timer_ = std::make_unique<TRenderTimer>(&clock_);
    timer_->Speed = 30.0;
    timer_->MaxFPS = 30;
    timer_->Enabled = false;
    timer_->Fast = opts_.fast;
    timer_->OnTimer = [this] { TimerTimer(); };
    timer_->OnProcess = [this] { onTick(); };

    device_ = std::make_unique<TRenderDevice>(&window_->Graphics());
    device_->Width = 1024;
    device_->Height = 768;
    canvas_ = std::make_unique<TRenderCanvas>(device_.get());
    canvas_->AlphaTesting = true;
    canvas_->VertexCache = 4096;
    images_ = std::make_unique<TRenderImages>(device_.get());
    images_->MipMappping = false;
    fonts_ = std::make_unique<TRenderFonts>(device_.get(), canvas_.get());
    archive_ = std::make_unique<TResArchive>();
    archive_->OpenMode = TOpenModes::opReadOnly;
    registry_ = std::make_unique<TImageRegistry>(*images_, *archive_, ctx_->imageLoad);
    sound_ = std::make_unique<TSoundManager>(*audio_, *archive_);
    sound_->OnTimerReset = [this] { timer_->Reset(); };
    wireServices();

    device_->OnInitialize = [this] { return DeviceInitialize(); };
    device_->OnRender = [this] { DeviceRender(); };
    if (!device_->Initialize()) {
        window_->ShowMessage(kCaption, kDeviceErrorText);
        return false;
    }
    return true;
}

void TFormMain::wireServices() {
    ctx_->device = device_.get();
    ctx_->canvas = canvas_.get();
    ctx_->images = images_.get();
    ctx_->fonts = fonts_.get();
    ctx_->timer = timer_.get();
    ctx_->archive = archive_.get();
    ctx_->imageRegistry = registry_.get();
    ctx_->sound = sound_.get();
}

bool TFormMain::DeviceInitialize() {
    // The game file: the command line's, else found beside the executable.
    std::string path = opts_.gamePath;
    if (path.empty()) path = FindGameFile(fs::executablePath(), editorSettings_);
    if (!path.empty()) {
        if (auto r = fs::resolve(path)) path = *r;
        path = fs::absolutePath(path);
    }

    TNBDB& root = ctx_->CreateRoot();
    root.WireServices();
    ctx_->imageLoad.ready = false;  // pictures the loader asks for are only counted
    if (!path.empty() && !root.LoadGame(path))
        std::cerr << "nbplayer: game file '" << path << "' not found or unreadable; running without a game\n";
    if (!ctx_->GameFolder().empty()) sound_->SetGameFolder(ctx_->GameFolder());

    if (opts_.testMode || opts_.windowed) ctx_->ui.fullScreenWanted = false;
    device_->SetWindowed(!ctx_->ui.fullScreenWanted);
    applyWindowStyle();

    ctx_->imageLoad.ready = true;
    ctx_->ui.currentScreen = TNBElement::FindByKey(&root, root.InitScreen());
    timer_->Reset();
    timer_->Enabled = true;
    std::string title = cp1251ToUtf8(root.Id());
    window_->SetTitle(title.empty() ? kCaption : title);
    started_ = true;
    return true;
}

void TFormMain::applyWindowStyle() {
    // --windowed and test mode keep the window whatever the game asks.
    bool full = !device_->Windowed() && !opts_.windowed && !opts_.headless;
    window_->SetFullscreen(full);
}

void TFormMain::handleWindowEvents() {
    WindowEvent e;
    while (window_->PollEvent(e)) {
        switch (e.type) {
            case WindowEventType::Quit: closing_ = true; break;
            case WindowEventType::MouseMove: FormMouseMove(e.x, e.y); break;
            case WindowEventType::MouseDown: FormMouseDown(e.x, e.y, e.shift); break;
            case WindowEventType::MouseUp: FormMouseUp(e.x, e.y); break;
            case WindowEventType::KeyDown: FormKeyDown(e.key, e.shift); break;
            case WindowEventType::Char: FormKeyPress(e.ch); break;
            case WindowEventType::Activate: WMActivate(true, window_->Minimized()); break;
            case WindowEventType::Deactivate: WMActivate(false, window_->Minimized()); break;
            case WindowEventType::Minimize: WMActivate(false, true); break;
            case WindowEventType::Restore: WMActivate(true, false); break;
            case WindowEventType::Expose: FormPaint(); break;
            default: break;
        }
        if (closing_) return;
    }
}

void TFormMain::TimerTimer() {
    device_->Render(0, true);
    captureIfDue();
    timer_->Process();
    device_->Flip();
    window_->Present();
}

void TFormMain::FormPaint() {
    if (timer_ && !timer_->Enabled && device_ && device_->Live()) {
        device_->Render(0, false);
        device_->Flip();
        window_->Present();
    }
}

void TFormMain::renderLayers(TNBElement* e, double ox, double oy) {
    TNBDB* root = ctx_->Root();
    if (!e || !root) return;
    // The layers between used ones still make a pass each, because image
    // lists draw on every pass (a translucent entry grows more opaque with
    // the width of the range). A gap wider than kMaxEmptyPasses (a damaged
    // game's Order) is cut short: 8-bit blending has stopped changing by then.
    constexpr int64_t kMaxEmptyPasses = 1024;
    int32_t layer = root->LowLayer();
    for (;;) {
        e->Render(layer, 0xFFFFFFFFu, ox, oy, 0);
        int32_t next = layer;
        if (!root->NextLayerUp(layer, next)) break;
        const int64_t gap = std::min<int64_t>(int64_t(next) - layer - 1, kMaxEmptyPasses);
        for (int64_t i = 1; i <= gap; ++i) e->Render(int32_t(layer + i), 0xFFFFFFFFu, ox, oy, 0);
        layer = next;
    }
}

TNBElement* TFormMain::loadingScreen() {
    TNBDB* root = ctx_->Root();
    return root ? TNBElement::FindByKey(root, root->LoadingScreen()) : nullptr;
}

void TFormMain::DeviceRender() {
    if (logoIndex_ >= 0) {
        if (logoImage_ && logoImage_->image) {
            TRenderImage* img = logoImage_->image;
            uint32_t alpha = uint32_t(logoAlpha(fadeCounter_));
            canvas_->FillRect(0, 0, 1024, 768, img->Pixel(0, 0, 0), 1);
            int w = img->VisibleWidth, h = img->VisibleHeight;
            canvas_->Draw(img, (1024 - w) / 2, (768 - h) / 2, 0, (alpha << 24) + 0xFFFFFFu, 1284);
        }
        return;
    }
    auto& ui = ctx_->ui;
    if (ctx_->imageLoad.loading) {
        renderLayers(ui.currentScreen, 0, 0);
        renderLayers(loadingScreen(), 0, 0);
        return;
    }
    renderLayers(ui.currentScreen, 0, 0);
    if (ui.cursor) renderLayers(ui.cursor, ui.mouseX, ui.mouseY);
}

void TFormMain::onTick() {
    if (closing_) return;
    ++ticks_;
    deliverReplay(ticks_);
    if (closing_) return;
    TimerProcess();
    if (!shots_.empty() && shots_.front().tick <= ticks_) captureAfterTick_ = ticks_;
    if (opts_.maxTicks >= 0 && ticks_ >= opts_.maxTicks) closing_ = true;
}

void TFormMain::deliverReplay(int64_t tick) {
    if (!hasReplay_) return;
    for (const ReplayEvent& e : replay_.TakeEventsFor(tick)) {
        switch (e.type) {
            case ReplayEvent::Type::Move: FormMouseMove(e.x, e.y); break;
            case ReplayEvent::Type::Down: FormMouseDown(e.x, e.y, ssLeft); break;
            case ReplayEvent::Type::Up: FormMouseUp(e.x, e.y); break;
            case ReplayEvent::Type::Key: {
                // A replayed press not yet released holds the button, as the
                // window's shift state would report it.
                uint32_t shift = (e.alt ? ssAlt : 0u) | (e.shift ? ssShift : 0u) | (e.ctrl ? ssCtrl : 0u) |
                                 (buttonsHeld_ > 0 ? ssLeft : 0u);
                FormKeyDown(e.code, shift);
                break;
            }
            case ReplayEvent::Type::Char: FormKeyPress(uint8_t(e.code)); break;
        }
        if (closing_) return;
    }
}

void TFormMain::captureIfDue(bool atEnd) {
    if (captureAfterTick_ < 0 && !(atEnd && !endShots_.empty())) return;
    std::vector<uint32_t> frame;
    bool have = window_->Graphics().ReadFrame(frame);
    if (!have || frame.size() != size_t(1024) * 768)
        frame.assign(size_t(1024) * 768, 0xFF000000u);  // nothing is drawn without a device
    auto write = [&](const std::string& path) {
        if (WritePng(path, 1024, 768, frame.data())) return;
        std::cerr << "nbplayer: cannot write screenshot '" << path << "'\n";
        exitStatus_ = 1;
    };
    while (captureAfterTick_ >= 0 && !shots_.empty() && shots_.front().tick <= captureAfterTick_) {
        write(shots_.front().path);
        shots_.erase(shots_.begin());
    }
    if (atEnd) {
        for (const std::string& path : endShots_) write(path);
        endShots_.clear();
    }
    captureAfterTick_ = -1;
}

void TFormMain::TimerProcess() {
    TNBDB* root = ctx_->Root();
    auto& ui = ctx_->ui;
    if (logoIndex_ >= 0) {
        if (fadeCounter_ < 100 && logoIndex_ > 0) {
            ++fadeCounter_;
            if (fadeCounter_ == 18) {
                if (!gameInitialised_) {
                    if (root) root->Init();
                    if (ui.currentScreen) ui.currentScreen->LoadImages();
                    gameInitialised_ = true;
                } else if (!firstScreenShown_) {
                    if (ui.currentScreen) ui.currentScreen->Show();
                    firstScreenShown_ = true;
                }
            }
        } else if (logoIndex_ < 10) {
            // Look for the next logo; its sound plays whether or not the
            // picture exists.
            logoImage_ = nullptr;
            do {
                ++logoIndex_;
                std::string n = std::to_string(logoIndex_);
                TNBIm* entry = registry_->LoadImage("logos\\logo" + n + ".jpg", false);
                sound_->PlaySound("logo" + n + ".mp3", 100);
                if (entry && entry->image) logoImage_ = entry;
            } while (!logoImage_ && logoIndex_ < 10);
            fadeCounter_ = 0;
            timer_->Reset();
        } else {
            if (!gameInitialised_) {
                if (root) root->Init();
                gameInitialised_ = true;
            }
            if (!firstScreenShown_) {
                if (ui.currentScreen) {
                    ui.currentScreen->LoadImages();
                    ui.currentScreen->Show();
                }
                firstScreenShown_ = true;
            }
            timer_->Reset();
            logoIndex_ = -1;
            logoImage_ = nullptr;
        }
        sound_->Update();
        return;
    }
    if (ctx_->imageLoad.loading) {
        if (TNBElement* ls = loadingScreen()) {
            ls->Process();
        } else if (root) {
            root->FinishLoading();
            ctx_->imageLoad.loading = false;
        }
        sound_->MusicFadeStep();
        sound_->Update();
        return;
    }
    if (ui.currentScreen) ui.currentScreen->Process();
    if (ui.cursor) ui.cursor->Process();
    sound_->MusicFadeStep();
    sound_->Update();
    if (ui.fullScreenWanted == device_->Windowed()) {
        device_->SetWindowed(!ui.fullScreenWanted);
        FlWin();
    }
    if (ui.exitRequested) closing_ = true;
}

void TFormMain::FormClose() {
    if (closed_) return;
    closed_ = true;
    if (!started_) return;  // start-up failed: no root, no exit hook
    timer_->Enabled = false;
    if (TNBDB* root = ctx_->Root()) root->ExitHook();
    ctx_->ui.currentScreen = nullptr;
    ctx_->ReleasePool();
    ctx_->FreeRoot();
    ctx_->ui.hovered = nullptr;
    editorSettings_.reset();
}

// ---------------------------------------------------------------- input

void TFormMain::FormMouseMove(int x, int y) {
    auto& ui = ctx_->ui;
    if (ctx_->imageLoad.loading) return;
    ui.mouseDX = x - ui.mouseX;
    ui.mouseDY = y - ui.mouseY;
    ui.mouseX = x;
    ui.mouseY = y;
    TNBDB* root = ctx_->Root();
    if (!ui.currentScreen || !root) return;
    TNBElement* hit = nullptr;
    int32_t layer = root->HighLayer();
    do hit = ui.currentScreen->HitTest(layer, x, y, 0, 0);
    while (!hit && root->NextLayerDown(layer, layer));
    if (!(ui.mouseDown && ui.hovered && ui.hovered->MsKeep())) {
        if (hit != ui.hovered) {
            if (ui.hovered) ui.hovered->MouseOut();
            ui.hovered = hit;
            if (hit) hit->MouseIn();
        }
    }
    if (ui.hovered) ui.hovered->MouseMove();
}

void TFormMain::FormMouseDown(int x, int y, uint32_t /*shift*/) {
    auto& ui = ctx_->ui;
    ++buttonsHeld_;
    if (logoIndex_ != -1) {
        // A click during the logos jumps to the start of the fade-out.
        if (fadeCounter_ > 18 && fadeCounter_ < 133) fadeCounter_ = 83;
        return;
    }
    if (ctx_->imageLoad.loading) return;
    ui.mouseX = x;
    ui.mouseY = y;
    for (const auto& d : kProbe) {
        FormMouseMove(x + d[0], y + d[1]);
        if (ui.hovered && !ui.hovered->HookText(THook::MouseDown).empty()) break;
    }
    if (ui.hovered) ui.hovered->MouseDown();
    ui.mouseDown = true;
    TNBDB* root = ctx_->Root();
    if (root && (!ui.hovered || !ui.hovered->NoMsNBDB())) root->MouseDown();
    FormMouseMove(x, y);
}

void TFormMain::FormMouseUp(int x, int y) {
    auto& ui = ctx_->ui;
    if (buttonsHeld_ > 0) --buttonsHeld_;
    if (ctx_->imageLoad.loading) return;
    ui.mouseX = x;
    ui.mouseY = y;
    FormMouseMove(x, y);
    if (ui.hovered) ui.hovered->MouseUp();
    TNBDB* root = ctx_->Root();
    if (root && (!ui.hovered || !ui.hovered->NoMsNBDB())) root->MouseUp();
    // "A button is down" here means one still held after this release, not
    // the press that is ending: releasing the only button lets the hover of
    // an MsKeep element move on at once.
    if (!(buttonsHeld_ > 0 && ui.hovered && ui.hovered->MsKeep())) {
        ui.mouseDown = false;
        FormMouseMove(x, y);
    }
    ui.mouseDown = false;
}

void TFormMain::FormKeyDown(int key, uint32_t shift) {
    // Alt+Enter (Alt alone, no Shift, Ctrl or mouse button) toggles the
    // window mode; the key still reaches the game's key hook.
    if (key == 13 && shift == ssAlt) {
        device_->SetWindowed(!device_->Windowed());
        ctx_->ui.fullScreenWanted = !device_->Windowed();
        FlWin();
    }
    if (TNBDB* root = ctx_->Root()) root->KeyHook(key);
}

void TFormMain::FormKeyPress(uint8_t ch) {
    TNBElement* target = ctx_->ui.typingTarget;
    if (!target) return;
    int idx = target->PropIndex(TProp::Text);
    if (idx < 0) return;
    std::string text = target->ReadProp(idx).s;
    if (ch == 8) {
        if (!text.empty()) text.pop_back();
    } else if (ch >= 32) {
        text += char(ch);
    } else {
        return;
    }
    target->WriteProp(idx, TPropValue::Str(text));
}

void TFormMain::FlWin() {
    auto& ui = ctx_->ui;
    TNBDB* root = ctx_->Root();
    if (root && root->Settings()) root->Settings()->writeBool("Def", "FS", ui.fullScreenWanted);
    if (opts_.testMode || opts_.windowed) ui.fullScreenWanted = false;
    timer_->Enabled = false;
    applyWindowStyle();
    registry_->ReloadAll();
    fonts_->RemoveAll();
    fonts_->LoadFromArchive(*archive_);
    registry_->LoadImage("particles.bmp", true);
    if (root)
        for (size_t i = 0; i < root->ChildCount(); ++i) root->Child(i)->ReloadImages();
    timer_->Reset();
    timer_->Enabled = true;
}

void TFormMain::WMActivate(bool active, bool minimized) {
    if (!started_) return;
    if (active && !minimized) {
        timer_->Enabled = true;
        timer_->Reset();
        sound_->Resume();
    } else {
        timer_->Enabled = false;
        sound_->Pause();
    }
}

}  // namespace nb
