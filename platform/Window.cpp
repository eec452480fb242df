// The SDL2 window, its OpenGL context, and the translation of SDL events into
// player events (logical mouse positions, Windows virtual-key codes,
// Windows-1251 typed characters).

#include "platform/Window.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>

#include "platform/Text.h"

namespace nb {

namespace {

constexpr int kW = GraphicsBackend::kFrameWidth;
constexpr int kH = GraphicsBackend::kFrameHeight;

SDL_Window* Win(void* p) { return static_cast<SDL_Window*>(p); }

}  // namespace

Letterbox ComputeLetterbox(int w, int h) {
    Letterbox lb;
    if (w <= 0 || h <= 0) return lb;
    // Compare w/h with 4/3 without rounding: the wider window gets bars left
    // and right, the taller one bars above and below.
    if (int64_t(w) * kH >= int64_t(h) * kW) {
        lb.height = h;
        lb.width = int((int64_t(h) * kW + kH / 2) / kH);
        lb.x = (w - lb.width) / 2;
        lb.y = 0;
    } else {
        lb.width = w;
        lb.height = int((int64_t(w) * kH + kW / 2) / kW);
        lb.x = 0;
        lb.y = (h - lb.height) / 2;
    }
    lb.width = std::max(lb.width, 1);
    lb.height = std::max(lb.height, 1);
    return lb;
}

void PlatformWindow::WindowToLogical(int w, int h, int wx, int wy, int& lx, int& ly) {
    Letterbox lb = ComputeLetterbox(w, h);
    // Floor division, so that positions left of or above the picture map
    // below 0 and clamp to the edge.
    auto map = [](int v, int origin, int size, int logical) {
        int64_t num = int64_t(v - origin) * logical;
        int64_t q = num >= 0 ? num / size : -((-num + size - 1) / size);
        return int(std::clamp<int64_t>(q, 0, logical - 1));
    };
    lx = map(wx, lb.x, lb.width, kW);
    ly = map(wy, lb.y, lb.height, kH);
}

int PlatformWindow::VirtualKeyFromSdl(int32_t k) {
    if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
    if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
    if (k >= SDLK_F1 && k <= SDLK_F12) return 112 + (k - SDLK_F1);
    if (k >= SDLK_F13 && k <= SDLK_F24) return 124 + (k - SDLK_F13);
    if (k >= SDLK_KP_1 && k <= SDLK_KP_9) return 97 + (k - SDLK_KP_1);
    switch (k) {
        case SDLK_KP_0: return 96;
        case SDLK_KP_MULTIPLY: return 106;
        case SDLK_KP_PLUS: return 107;
        case SDLK_KP_MINUS: return 109;
        case SDLK_KP_PERIOD: return 110;
        case SDLK_KP_DIVIDE: return 111;
        case SDLK_KP_ENTER:
        case SDLK_RETURN: return 13;
        case SDLK_ESCAPE: return 27;
        case SDLK_SPACE: return 32;
        case SDLK_BACKSPACE: return 8;
        case SDLK_TAB: return 9;
        case SDLK_LEFT: return 37;
        case SDLK_UP: return 38;
        case SDLK_RIGHT: return 39;
        case SDLK_DOWN: return 40;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT: return 16;
        case SDLK_LCTRL:
        case SDLK_RCTRL: return 17;
        case SDLK_LALT:
        case SDLK_RALT: return 18;
        case SDLK_PAUSE: return 19;
        case SDLK_CAPSLOCK: return 20;
        case SDLK_PAGEUP: return 33;
        case SDLK_PAGEDOWN: return 34;
        case SDLK_END: return 35;
        case SDLK_HOME: return 36;
        case SDLK_PRINTSCREEN: return 44;
        case SDLK_INSERT: return 45;
        case SDLK_DELETE: return 46;
        case SDLK_LGUI: return 91;
        case SDLK_RGUI: return 92;
        case SDLK_APPLICATION: return 93;
        case SDLK_NUMLOCKCLEAR: return 144;
        case SDLK_SCROLLLOCK: return 145;
        case SDLK_SEMICOLON: return 186;
        case SDLK_EQUALS: return 187;
        case SDLK_COMMA: return 188;
        case SDLK_MINUS: return 189;
        case SDLK_PERIOD: return 190;
        case SDLK_SLASH: return 191;
        case SDLK_BACKQUOTE: return 192;
        case SDLK_LEFTBRACKET: return 219;
        case SDLK_BACKSLASH: return 220;
        case SDLK_RIGHTBRACKET: return 221;
        case SDLK_QUOTE: return 222;
        default: return 0;
    }
}

std::unique_ptr<PlatformWindow> PlatformWindow::Create(const WindowOptions& options, std::string& error) {
    std::unique_ptr<PlatformWindow> w(new PlatformWindow());
    w->headless_ = options.headless;
    w->fullscreen_ = !options.windowed;

    if (options.headless) {
        // Never reach a display server, whatever the environment says.
        SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
    } else {
        SDL_ResetHint(SDL_HINT_VIDEODRIVER);
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::string why = std::string("video initialisation failed: ") + SDL_GetError();
        if (!options.headless) {
            error = why;
            return nullptr;
        }
        w->fallbackReason_ = why;
        w->graphics_ = CreateNullGraphics();
        return w;
    }
    w->sdlVideo_ = true;

    if (options.nullGraphics) {
        w->fallbackReason_ = "null graphics requested";
    } else {
        SDL_GL_ResetAttributes();
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    }

    Uint32 flags = SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
    if (!options.nullGraphics) flags |= SDL_WINDOW_OPENGL;
    if (options.headless)
        flags |= SDL_WINDOW_HIDDEN;
    else if (!options.windowed)
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    SDL_Window* win = SDL_CreateWindow(options.title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, kW,
                                       kH, flags);
    if (!win && !options.nullGraphics) {
        std::string why = std::string("window creation failed: ") + SDL_GetError();
        if (!options.headless) {
            error = why;
            return nullptr;
        }
        // Try once more without OpenGL so that events still flow.
        w->fallbackReason_ = why;
        win = SDL_CreateWindow(options.title.c_str(), 0, 0, kW, kH, SDL_WINDOW_HIDDEN);
    } else if (!win) {
        if (!options.headless) {
            error = std::string("window creation failed: ") + SDL_GetError();
            return nullptr;
        }
    }
    w->window_ = win;

    if (win && !options.nullGraphics && w->fallbackReason_.empty()) {
        SDL_GLContext ctx = SDL_GL_CreateContext(win);
        if (!ctx) {
            w->fallbackReason_ = std::string("OpenGL context creation failed: ") + SDL_GetError();
        } else {
            w->glContext_ = ctx;
            SDL_GL_MakeCurrent(win, ctx);
            SDL_GL_SetSwapInterval(0);  // no vertical sync: the frame timer paces the loop
            std::string why;
            w->graphics_ = CreateGLGraphics(why);
            if (!w->graphics_) w->fallbackReason_ = "OpenGL backend unusable: " + why;
        }
    }
    if (!w->graphics_) {
        if (!options.headless && !options.nullGraphics) {
            error = w->fallbackReason_;
            return nullptr;  // the destructor releases what was made
        }
        w->graphics_ = CreateNullGraphics();
    }
    if (win && !options.headless) SDL_StartTextInput();
    return w;
}

PlatformWindow::~PlatformWindow() {
    graphics_.reset();  // needs the context while it deletes its objects
    if (glContext_) SDL_GL_DeleteContext(static_cast<SDL_GLContext>(glContext_));
    if (window_) SDL_DestroyWindow(Win(window_));
    if (sdlVideo_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool PlatformWindow::Minimized() const {
    return window_ && (SDL_GetWindowFlags(Win(window_)) & SDL_WINDOW_MINIMIZED) != 0;
}

void PlatformWindow::SetTitle(const std::string& utf8) {
    if (window_) SDL_SetWindowTitle(Win(window_), utf8.c_str());
}

void PlatformWindow::SetFullscreen(bool fullscreen) {
    fullscreen_ = fullscreen;
    if (!window_ || headless_) return;
    SDL_SetWindowFullscreen(Win(window_), fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    if (!fullscreen) {
        SDL_SetWindowSize(Win(window_), kW, kH);
        SDL_SetWindowPosition(Win(window_), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
    }
}

void PlatformWindow::Present() {
    if (headless_ || !window_ || !glContext_) return;
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(Win(window_), &w, &h);
    graphics_->PresentToWindow(w, h);
    SDL_GL_SwapWindow(Win(window_));
}

void PlatformWindow::ShowMessageNoWindow(const std::string& title, const std::string& text, bool headless) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    if (!headless) SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), text.c_str(), nullptr);
}

void PlatformWindow::ShowMessage(const std::string& title, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    if (!headless_) SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), text.c_str(), Win(window_));
}

uint32_t PlatformWindow::currentShift(uint32_t extraButtons, uint32_t removedButtons) const {
    uint32_t s = 0;
    SDL_Keymod m = SDL_GetModState();
    if (m & KMOD_SHIFT) s |= ssShift;
    if (m & KMOD_ALT) s |= ssAlt;
    if (m & KMOD_CTRL) s |= ssCtrl;
    Uint32 b = sdlVideo_ ? SDL_GetMouseState(nullptr, nullptr) : 0;
    if (b & SDL_BUTTON_LMASK) s |= ssLeft;
    if (b & SDL_BUTTON_RMASK) s |= ssRight;
    if (b & SDL_BUTTON_MMASK) s |= ssMiddle;
    return (s | extraButtons) & ~removedButtons;
}

void PlatformWindow::logicalMouse(int wx, int wy, int& lx, int& ly) const {
    int w = kW, h = kH;
    if (window_) SDL_GetWindowSize(Win(window_), &w, &h);
    WindowToLogical(w, h, wx, wy, lx, ly);
}

bool PlatformWindow::PollEvent(WindowEvent& event) {
    while (pending_.empty() && sdlVideo_) {
        SDL_Event e;
        if (!SDL_PollEvent(&e)) break;
        translate(&e);
    }
    if (pending_.empty()) return false;
    event = pending_.front();
    pending_.pop_front();
    return true;
}

void PlatformWindow::translate(const void* raw) {
    const SDL_Event& e = *static_cast<const SDL_Event*>(raw);
    WindowEvent out;
    auto buttonOf = [](Uint8 b, MouseButton& mb, uint32_t& bit) {
        switch (b) {
            case SDL_BUTTON_LEFT: mb = MouseButton::Left; bit = ssLeft; return true;
            case SDL_BUTTON_RIGHT: mb = MouseButton::Right; bit = ssRight; return true;
            case SDL_BUTTON_MIDDLE: mb = MouseButton::Middle; bit = ssMiddle; return true;
            default: return false;
        }
    };
    switch (e.type) {
        case SDL_QUIT:
            out.type = WindowEventType::Quit;
            push(out);
            break;
        case SDL_MOUSEMOTION:
            out.type = WindowEventType::MouseMove;
            logicalMouse(e.motion.x, e.motion.y, out.x, out.y);
            out.shift = currentShift();
            push(out);
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            uint32_t bit = 0;
            if (!buttonOf(e.button.button, out.button, bit)) break;
            const bool down = e.type == SDL_MOUSEBUTTONDOWN;
            out.type = down ? WindowEventType::MouseDown : WindowEventType::MouseUp;
            logicalMouse(e.button.x, e.button.y, out.x, out.y);
            out.shift = down ? currentShift(bit, 0) : currentShift(0, bit);
            push(out);
            break;
        }
        case SDL_KEYDOWN: {
            int vk = VirtualKeyFromSdl(e.key.keysym.sym);
            if (vk == 0) break;
            out.type = WindowEventType::KeyDown;
            out.key = vk;
            out.shift = currentShift();
            push(out);
            // Keys that type a control character, as the desktop platform
            // reports them; with Alt held no character is typed at all.
            if (out.shift & ssAlt) break;
            const bool ctrl = (out.shift & ssCtrl) != 0;
            int ch = -1;
            switch (vk) {
                case 8: ch = ctrl ? 127 : 8; break;
                case 13: ch = ctrl ? 10 : 13; break;
                case 27: ch = 27; break;
                case 9: ch = ctrl ? -1 : 9; break;
                default: break;
            }
            if (ch >= 0) {
                WindowEvent c;
                c.type = WindowEventType::Char;
                c.ch = uint8_t(ch);
                push(c);
            }
            break;
        }
        case SDL_TEXTINPUT: {
            std::string bytes = utf8ToCp1251(e.text.text);
            for (unsigned char b : bytes) {
                WindowEvent c;
                c.type = WindowEventType::Char;
                c.ch = b;
                push(c);
            }
            break;
        }
        case SDL_WINDOWEVENT:
            switch (e.window.event) {
                case SDL_WINDOWEVENT_FOCUS_GAINED:
                    active_ = true;
                    out.type = WindowEventType::Activate;
                    break;
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    active_ = false;
                    out.type = WindowEventType::Deactivate;
                    break;
                case SDL_WINDOWEVENT_MINIMIZED: out.type = WindowEventType::Minimize; break;
                case SDL_WINDOWEVENT_RESTORED: out.type = WindowEventType::Restore; break;
                case SDL_WINDOWEVENT_EXPOSED: out.type = WindowEventType::Expose; break;
                default: break;
            }
            if (out.type != WindowEventType::None) push(out);
            break;
        default: break;
    }
}

}  // namespace nb
