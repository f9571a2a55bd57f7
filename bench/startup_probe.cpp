// Preloaded into kelvo by startup.sh (LD_PRELOAD): prints to stderr, once
// each, the wall-clock time at which kelvo passed a few library calls, so
// that startup can be split into its parts without touching the program.
//   probe <event> <wall ns since the epoch>

#include <dlfcn.h>
#include <time.h>

#include <cstdint>
#include <cstdio>

namespace {

void mark(const char* event) {
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    std::fprintf(stderr, "probe %s %lld\n", event, t.tv_sec * 1000000000LL + t.tv_nsec);
}

template <typename F>
F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

bool traced = false;

}  // namespace

extern "C" {

// The font is opened when the platform is up: next comes the scene.
void* TTF_OpenFontRW(void* source, int freeSource, int size) {
    static auto next = real<void* (*)(void*, int, int)>("TTF_OpenFontRW");
    void* font = next(source, freeSource, size);
    mark("platform_ready");
    return font;
}

// The window is made right after the scene and its tree.
void* SDL_CreateWindow(const char* title, int x, int y, int w, int h, std::uint32_t flags) {
    static auto next =
        real<void* (*)(const char*, int, int, int, int, std::uint32_t)>("SDL_CreateWindow");
    mark("scene_built");
    return next(title, x, y, w, h, flags);
}

// The first frame's rows (headless windows make no SDL call before it).
void GOMP_parallel(void (*body)(void*), void* data, unsigned threads, unsigned flags) {
    static auto next = real<void (*)(void (*)(void*), void*, unsigned, unsigned)>("GOMP_parallel");
    if (!traced) {
        mark("first_trace");
    }
    next(body, data, threads, flags);
    traced = true;
}

int SDL_UpdateWindowSurface(void* window) {
    static auto next = real<int (*)(void*)>("SDL_UpdateWindowSurface");
    static bool shown = false;
    const int result = next(window);
    if (traced && !shown) {
        shown = true;
        mark("first_frame_shown");
    }
    return result;
}
}
