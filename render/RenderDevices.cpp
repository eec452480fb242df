#include "render/RenderDevices.h"

#include <algorithm>

#include "platform/Graphics.h"

namespace nb {

TRenderDevice::TRenderDevice(GraphicsBackend* backend) : backend_(backend) {}

TRenderDevice::~TRenderDevice() {
    if (live_) Finalize();
}

int TRenderDevice::Subscribe(std::function<void(TDeviceEvent)> handler) {
    int id = ++nextId_;
    subscribers_.emplace_back(id, std::move(handler));
    return id;
}

void TRenderDevice::Unsubscribe(int id) {
    subscribers_.erase(std::remove_if(subscribers_.begin(), subscribers_.end(),
                                      [id](const auto& s) { return s.first == id; }),
                       subscribers_.end());
}

void TRenderDevice::Publish(TDeviceEvent event) {
    // A handler may subscribe or unsubscribe while the event travels; walk a
    // copy of the ids and look each one up again before calling it.
    std::vector<int> ids;
    ids.reserve(subscribers_.size());
    for (const auto& s : subscribers_) ids.push_back(s.first);
    for (int id : ids) {
        auto it = std::find_if(subscribers_.begin(), subscribers_.end(), [id](const auto& s) { return s.first == id; });
        if (it == subscribers_.end() || !it->second) continue;
        auto handler = it->second;  // the handler may unsubscribe itself
        handler(event);
    }
}

bool TRenderDevice::Initialize() {
    if (live_) return true;
    if (!backend_) return false;
    live_ = true;
    lostPublished_ = false;
    Publish(devInitialize);
    if (OnInitialize && !OnInitialize()) {
        Finalize();
        return false;
    }
    return live_;
}

void TRenderDevice::Finalize() {
    if (!live_) return;
    Publish(devFinalize);
    live_ = false;
    lostPublished_ = false;
}

void TRenderDevice::SetWindowed(bool windowed) {
    windowed_ = windowed;
    if (!live_) return;
    if (!lostPublished_) Publish(devLost);
    lostPublished_ = true;
    if (!backend_->Reset()) {
        Finalize();
        return;
    }
    lostPublished_ = false;
    Publish(devReset);
}

void TRenderDevice::Render(uint32_t background, bool clear) {
    if (!live_ || lostPublished_ || !OnRender) return;
    backend_->BeginFrame(clear, background);
    Publish(devBeginScene);
    OnRender();
    Publish(devEndScene);
    backend_->EndFrame();
}

void TRenderDevice::Flip() {
    if (!live_) return;
    switch (backend_->Present()) {
        case GfxPresentResult::Ok:
            if (lostPublished_) {
                // A device that presents again after a loss still needs its
                // resources back before anything can be drawn.
                if (backend_->CanReset() && backend_->Reset()) {
                    lostPublished_ = false;
                    Publish(devReset);
                }
                return;
            }
            if (OnPresent) OnPresent();
            return;
        case GfxPresentResult::DeviceLost:
            if (!lostPublished_) {
                Publish(devLost);
                lostPublished_ = true;
            }
            if (backend_->CanReset() && backend_->Reset()) {
                lostPublished_ = false;
                Publish(devReset);
            }
            return;
        case GfxPresentResult::DriverError:
            if (!lostPublished_) {
                Publish(devLost);
                lostPublished_ = true;
            }
            if (backend_->Reset()) {
                lostPublished_ = false;
                Publish(devReset);
            } else {
                Finalize();
            }
            return;
    }
}

}  // namespace nb
