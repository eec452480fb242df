// TFormMain: the application shell. Owns the window, the rendering components,
// the audio back end, the picture and sound registries and the scene context;
// finds and loads the game; drives everything from the frame timer: each frame
// renders the scene and then runs the whole process ticks that came due. It
// plays the start-up logos with their fades, hiding the first screen's
// initialisation behind them, and routes mouse and keyboard to the elements.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/InputReplay.h"
#include "platform/Clock.h"
#include "platform/IniFile.h"

namespace nb {

class PlatformWindow;
class AudioBackend;
class TRenderDevice;
class TRenderTimer;
class TRenderCanvas;
class TRenderImages;
class TRenderFonts;
class TResArchive;
class TImageRegistry;
class TSoundManager;
class TSceneContext;
class TNBElement;
struct TNBIm;

// Where the game file is when none was given: the executable's path with its
// extension replaced by ".nbf" (appended when it has none), the first "*.nbf"
// beside the executable, then [Main] Path of "NBMaker.ini" in the
// configuration folder (kept open in `editorSettings`). "" when none.
std::string FindGameFile(const std::string& executablePath, std::unique_ptr<IniFile>& editorSettings);

class TFormMain {
public:
    explicit TFormMain(PlayerOptions options);
    ~TFormMain();
    TFormMain(const TFormMain&) = delete;
    TFormMain& operator=(const TFormMain&) = delete;

    // The whole life of the player: start-up, the main loop, shut-down.
    // Answers the process exit status.
    int Run();

    // ---- the window's handlers
    bool FormCreate();          // false: start-up failed (message shown)
    bool DeviceInitialize();    // inside the device's Initialize
    void TimerTimer();          // once per frame
    void DeviceRender();        // inside the device's Render
    void TimerProcess();        // once per process tick
    void FormPaint();
    void FormClose();

    // ---- input (logical coordinates)
    void FormMouseMove(int x, int y);
    void FormMouseDown(int x, int y, uint32_t shift);
    void FormMouseUp(int x, int y);
    void FormKeyDown(int key, uint32_t shift);
    void FormKeyPress(uint8_t ch);
    void FlWin();
    void WMActivate(bool active, bool minimized);

    // ---- state, for tests
    int LogoIndex() const { return logoIndex_; }
    int FadeCounter() const { return fadeCounter_; }
    int64_t Ticks() const { return ticks_; }
    bool GameInitialised() const { return gameInitialised_; }
    bool FirstScreenShown() const { return firstScreenShown_; }
    bool Closing() const { return closing_; }
    TSceneContext& Ctx() { return *ctx_; }
    TRenderDevice* Device() { return device_.get(); }
    TRenderTimer* Timer() { return timer_.get(); }
    TRenderCanvas* Canvas() { return canvas_.get(); }

private:
    void wireServices();
    void applyWindowStyle();
    void handleWindowEvents();
    void onTick();                      // TimerProcess with replay, counting, screenshots
    void deliverReplay(int64_t tick);
    // Writes the screenshots due with the frame just drawn: those of the
    // tick it follows, and with `atEnd` those of the end of the run.
    void captureIfDue(bool atEnd = false);
    void renderLayers(TNBElement* e, double ox, double oy);
    void probeMove(int x, int y);
    TNBElement* loadingScreen();

    PlayerOptions opts_;
    SystemClock clock_;
    std::unique_ptr<PlatformWindow> window_;
    std::unique_ptr<AudioBackend> audio_;
    std::unique_ptr<TRenderDevice> device_;
    std::unique_ptr<TRenderTimer> timer_;
    std::unique_ptr<TRenderCanvas> canvas_;
    std::unique_ptr<TRenderImages> images_;
    std::unique_ptr<TRenderFonts> fonts_;
    std::unique_ptr<TResArchive> archive_;
    std::unique_ptr<TImageRegistry> registry_;
    std::unique_ptr<TSoundManager> sound_;
    std::unique_ptr<TSceneContext> ctx_;

    // Shell state.
    int logoIndex_ = 0;
    int fadeCounter_ = 0;
    TNBIm* logoImage_ = nullptr;
    bool gameInitialised_ = false;
    bool firstScreenShown_ = false;
    std::unique_ptr<IniFile> editorSettings_;

    // Loop state.
    bool closing_ = false;   // the window is to close after this frame
    int buttonsHeld_ = 0;    // mouse buttons physically down (presses not yet released)
    bool closed_ = false;    // FormClose ran
    bool started_ = false;   // the device and the root exist
    int64_t ticks_ = 0;      // process ticks run so far
    InputReplay replay_;
    bool hasReplay_ = false;
    std::vector<ScreenshotRequest> shots_;  // sorted by tick, not yet taken
    std::vector<std::string> endShots_;     // taken at the end of the run
    int64_t captureAfterTick_ = -1;         // the next frame shows state after this tick
    int exitStatus_ = 0;
};

}  // namespace nb
