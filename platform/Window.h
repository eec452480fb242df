// The window service: the player's one window, its graphics backend, and the
// translation of system events into player events.
//
// The window shows the 1024 x 768 logical frame scaled into its client area
// with the aspect ratio kept (black bars), in a resizable window or full
// screen at the desktop resolution. Every mouse position is reported in
// logical pixels, clamped to the frame.
//
// Headless mode needs no display server: it uses an offscreen video driver
// and still renders real pixels when an OpenGL context can be made there;
// otherwise it falls back to the null graphics backend. Headless never opens
// a visible window and never blocks.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/Graphics.h"

namespace nb {

struct WindowOptions {
    bool headless = false;
    bool windowed = true;          // false: full screen at the desktop resolution
    std::string title = "FormMain";  // UTF-8
    // Never try OpenGL; use the null backend (tests of code above the
    // platform that must not depend on a GL driver).
    bool nullGraphics = false;
};

enum class WindowEventType : uint8_t {
    None,
    Quit,        // the user closed the window (or the process was interrupted)
    MouseMove,   // x, y, shift
    MouseDown,   // x, y, button, shift (the pressed button included)
    MouseUp,     // x, y, button, shift (the released button no longer held)
    KeyDown,     // key (Windows virtual-key code), shift
    Char,        // ch: one Windows-1251 byte typed
    Activate,    // the window gained the input focus
    Deactivate,  // the window lost the input focus
    Minimize,
    Restore,
    Expose,      // the window must be repainted
};

// Shift-state bits, as the original desktop platform reports them with every
// mouse and key message.
enum ShiftStateBits : uint32_t {
    ssShift = 1u << 0,
    ssAlt = 1u << 1,
    ssCtrl = 1u << 2,
    ssLeft = 1u << 3,
    ssRight = 1u << 4,
    ssMiddle = 1u << 5,
};

enum class MouseButton : uint8_t { Left, Right, Middle };

struct WindowEvent {
    WindowEventType type = WindowEventType::None;
    int x = 0, y = 0;  // logical pixels, 0..1023 x 0..767
    MouseButton button = MouseButton::Left;
    int key = 0;       // virtual-key code
    uint8_t ch = 0;    // typed character (Windows-1251)
    uint32_t shift = 0;
};

class PlatformWindow {
public:
    // Initialises the video system, opens the window (hidden when headless),
    // makes the OpenGL context and the graphics backend. nullptr with a
    // message in `error` when a non-headless window cannot be made; headless
    // creation falls back to the null backend instead of failing.
    static std::unique_ptr<PlatformWindow> Create(const WindowOptions& options, std::string& error);
    ~PlatformWindow();

    PlatformWindow(const PlatformWindow&) = delete;
    PlatformWindow& operator=(const PlatformWindow&) = delete;

    GraphicsBackend& Graphics() { return *graphics_; }
    bool Headless() const { return headless_; }
    // Why the real graphics backend is not in use ("" when it is).
    const std::string& GraphicsFallbackReason() const { return fallbackReason_; }

    // Takes the next player event; false when none is waiting (never blocks).
    bool PollEvent(WindowEvent& event);

    // Shows the last frame: scales the 1024 x 768 frame into the window with
    // black bars and swaps buffers. No-op when headless.
    void Present();

    void SetFullscreen(bool fullscreen);
    bool Fullscreen() const { return fullscreen_; }
    bool Minimized() const;
    bool Active() const { return active_; }
    void SetTitle(const std::string& utf8);

    // An error message box (error icon, OK button), also printed on stderr;
    // headless prints only.
    void ShowMessage(const std::string& title, const std::string& text);
    // The same without a window (e.g. when Create failed).
    static void ShowMessageNoWindow(const std::string& title, const std::string& text, bool headless);

    // Maps a position in window coordinates to logical pixels for a window of
    // w x h, clamping to the frame. Exposed for tests.
    static void WindowToLogical(int windowWidth, int windowHeight, int wx, int wy, int& lx, int& ly);
    // Windows virtual-key code of an SDL keycode; 0 when it has none.
    static int VirtualKeyFromSdl(int32_t sdlKeycode);

private:
    PlatformWindow() = default;
    void translate(const void* sdlEvent);
    void push(const WindowEvent& e) { pending_.push_back(e); }
    uint32_t currentShift(uint32_t extraButtons = 0, uint32_t removedButtons = 0) const;
    void logicalMouse(int wx, int wy, int& lx, int& ly) const;

    bool headless_ = false;
    bool fullscreen_ = false;
    bool active_ = true;
    bool sdlVideo_ = false;  // SDL_INIT_VIDEO succeeded
    void* window_ = nullptr;    // SDL_Window*
    void* glContext_ = nullptr;  // SDL_GLContext
    std::unique_ptr<GraphicsBackend> graphics_;
    std::string fallbackReason_;
    std::deque<WindowEvent> pending_;
};

}  // namespace nb
