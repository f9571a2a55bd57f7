#include "velllib/platform.h"

#include <cstddef>
#include <cstdio>
#include <new>

namespace vell {

namespace {
Platform* platformInUse = nullptr;
}  // namespace

Platform* currentPlatform() {
    return platformInUse;
}

Platform* setCurrentPlatform(Platform* platform) {
    Platform* previous = platformInUse;
    platformInUse = platform;
    return previous;
}

std::string clientSizeProblem(int width, int height) {
    if (width >= 1 && width <= MAX_CLIENT_SIZE && height >= 1 && height <= MAX_CLIENT_SIZE) {
        return {};
    }
    const std::string limit = std::to_string(MAX_CLIENT_SIZE);
    return "window size " + std::to_string(width) + "x" + std::to_string(height) +
           " is outside 1x1 to " + limit + "x" + limit;
}

BackBuffer makeMemoryBackBuffer(int width, int height) {
    if (width <= 0 || height <= 0) {
        return {};
    }
    const std::size_t words = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    auto* pixels = new (std::nothrow) std::uint32_t[words];
    if (pixels == nullptr) {
        std::fprintf(stderr, "vell: cannot allocate a %dx%d back buffer\n", width, height);
        return {};
    }
    return {pixels, pixels};
}

void freeMemoryBackBuffer(BitmapHandle bitmap) {
    delete[] static_cast<std::uint32_t*>(bitmap);
}

}  // namespace vell
