// The display device: owns the graphics backend session for the window and
// publishes its life-cycle events to the canvas, the image list and the
// fonts, in the order they subscribed.
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

    int Subscribe(std::function<void(TDeviceEvent)> handler);
    void Unsubscribe(int id);

    bool Initialize();
    void Finalize();
    bool Live() const { return live_; }
    bool Windowed() const { return windowed_; }
    // Resets a live device with the new setting (publishes lost, then reset).
    void SetWindowed(bool windowed);
    void Render(uint32_t background, bool clear);
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
