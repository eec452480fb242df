// Shared state of picture loading, part of the player's interaction state:
// the shell, the scene, the script library and the picture registry all read
// and write it.
#pragma once

#include <cstdint>

namespace nb {

struct TImageLoadState {
    // When false, a request for a picture that is not loaded only counts it
    // (deferred loading); true at program start.
    bool ready = true;
    // A screen change with a loading screen is in progress; every load then
    // runs the progress hook.
    bool loading = false;
    // IMFORLOADCOUNT: pictures a screen change will have to load.
    int32_t forLoadCount = 0;
    // IMFORLOADPOS: load attempts made since the change began.
    int32_t forLoadPos = 0;
};

}  // namespace nb
