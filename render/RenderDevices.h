// The display device: owns the graphics backend session for the window and
// publishes its life-cycle events to the canvas, the image list and the
// fonts, in the order they subscribed. Subscribers (canvas, images, fonts)
// must be destroyed before the device.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace nb {

class GraphicsBackend;  // platform/Graphics.h

enum TDeviceEvent : int {
    devInitialize = 256,
    devFinalize = 257,
    devLost = 258,
    devReset = 259,
    devBeginScene = 260,
    devEndScene = 261,
};

class TRenderDevice {
public:
    // The backend is owned by the caller (the shell) and outlives the device.
    explicit TRenderDevice(GraphicsBackend* backend);
    ~TRenderDevice();

    int Width = 1024;
    int Height = 768;

    // Called last inside Initialize; answering false vetoes (the device is
    // finalised and Initialize reports failure).
    std::function<bool()> OnInitialize;
    // Called inside Render between begin-scene and end-scene.
    std::function<void()> OnRender;
    // Called by Flip after a successful present, to show the frame (the
    // shell may bind it to PlatformWindow::Present, or call that itself
    // after Flip).
    std::function<void()> OnPresent;

    int Subscribe(std::function<void(TDeviceEvent)> handler);
    void Unsubscribe(int id);

    bool Initialize();
    void Finalize();
    bool Live() const { return live_; }
    // Live, but lost and not yet reset: nothing can be drawn.
    bool Lost() const { return live_ && lostPublished_; }
    bool Windowed() const { return windowed_; }
    // Resets a live device with the new setting (publishes lost, then reset;
    // a failed reset finalises the device). The window itself is switched by
    // the shell (PlatformWindow::SetFullscreen).
    void SetWindowed(bool windowed);
    // When live, not lost, and a render handler is set: begins the frame
    // (clearing to `background` when asked), publishes begin-scene, runs
    // OnRender, publishes end-scene (the canvas flushes) and ends the frame.
    void Render(uint32_t background, bool clear);
    // Presents and handles device loss: a lost device publishes lost once,
    // and once it can be reset it is reset and reset is published; a driver
    // error resets at once and finalises when that fails.
    void Flip();

    GraphicsBackend* Backend() const { return backend_; }

    // Publishes an event to every subscriber in subscription order.
    void Publish(TDeviceEvent event);

private:
    GraphicsBackend* backend_;
    bool live_ = false;
    bool windowed_ = true;
    bool lostPublished_ = false;
    int nextId_ = 0;
    std::vector<std::pair<int, std::function<void(TDeviceEvent)>>> subscribers_;
};

}  // namespace nb
