#include "velllib/app.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vell {

ListNode* windowRegistry = nullptr;
int exitCode = 0;

namespace {

WindowRecord* findByWindow(WindowHandle window) {
    for (ListNode* node = windowRegistry; node != nullptr; node = node->next) {
        auto* record = static_cast<WindowRecord*>(node->item);
        if (record->window == window) {
            return record;
        }
    }
    return nullptr;
}

WindowRecord* findByOwner(const AppWindow* owner) {
    for (ListNode* node = windowRegistry; node != nullptr; node = node->next) {
        auto* record = static_cast<WindowRecord*>(node->item);
        if (record->owner == owner) {
            return record;
        }
    }
    return nullptr;
}

void unregister(const WindowRecord* record) {
    ListNode** link = &windowRegistry;
    while (*link != nullptr) {
        ListNode* node = *link;
        if (node->item == record) {
            *link = node->next;
            freeNode(node);
        } else {
            link = &node->next;
        }
    }
}

void releaseBackBuffer(Platform& platform, WindowRecord& record) {
    if (record.bitmap != nullptr) {
        platform.freeBackBuffer(record.window, record.bitmap);
    }
    record.bitmap = nullptr;
    record.pixels = nullptr;
}

void newBackBuffer(Platform& platform, WindowRecord& record, MessageLong lParam) {
    const int width = static_cast<int>(lParam & 0xffff);
    const int height = static_cast<int>((lParam >> 16) & 0xffff);
    releaseBackBuffer(platform, record);
    // A minimised window reports 0 x 0; it keeps no buffer until it is restored.
    if (width > 0 && height > 0) {
        BackBuffer buffer = platform.makeBackBuffer(record.window, width, height);
        if (buffer.bitmap != nullptr && buffer.pixels != nullptr) {
            record.bitmap = buffer.bitmap;
            record.pixels = buffer.pixels;
            std::memset(record.pixels, 0,
                        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
        } else if (buffer.bitmap != nullptr) {
            platform.freeBackBuffer(record.window, buffer.bitmap);
        }
    }
    record.size[0] = width;
    record.size[1] = height;
}

bool everyWindowLacksBackBuffer() {
    if (windowRegistry == nullptr) {
        return false;
    }
    for (ListNode* node = windowRegistry; node != nullptr; node = node->next) {
        if (static_cast<WindowRecord*>(node->item)->pixels != nullptr) {
            return false;
        }
    }
    return true;
}

// Written by the signal handlers (any thread may run one) and read by the
// frame loop and the workers that trace rows, so it must be an atomic that
// needs no lock: a handler cannot wait for one.
std::atomic<int> pendingStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// The file that a stop removes before ending the program at once (see
// StopEndsAtOnce): its descriptor, and its name in storage of its own, since
// a handler may not allocate.
std::atomic<bool> stopEndsAtOnce{false};
std::atomic<int> fileToRemoveDescriptor{-1};
char fileToRemove[4096] = "";
char noteAtStop[4096] = "";
static_assert(std::atomic<bool>::is_always_lock_free);

void keep(char (&buffer)[4096], const std::string& text) {
    const std::size_t length = std::min(text.size(), sizeof buffer - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

[[noreturn]] void endNow(int signal) {
    if (fileToRemove[0] != '\0') {
        const int descriptor = fileToRemoveDescriptor.load();
        if (descriptor >= 0) {
            // Windows removes no file that is still open.
            ::close(descriptor);
        }
        ::unlink(fileToRemove);
    }
    if (const std::size_t length = std::strlen(noteAtStop)) {
        [[maybe_unused]] const auto written = ::write(2, noteAtStop, length);
    }
    std::_Exit(128 + signal);
}

extern "C" void onStopSignal(int signal) {
    if (!recordStop(signal)) {
        // Asked twice: the careful stop is not coming fast enough.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
#if defined(_WIN32)
    // Win32 resets the handler to the default before calling it.
    std::signal(signal, onStopSignal);
#endif
}

// Closes every window as the user's close would, so that the last one posts
// the quit message with exit code 0.
void closeEveryWindow(Platform& platform) {
    while (windowRegistry != nullptr) {
        auto* record = static_cast<WindowRecord*>(windowRegistry->item);
        platform.destroyNativeWindow(record->window);
        if (windowRegistry != nullptr && windowRegistry->item == record) {
            // The platform did not send the destroy message.
            break;
        }
    }
}

void mouseButton(AppWindow* owner, unsigned message) {
    const unsigned offset = message - MSG_LBUTTONDOWN;
    const int button = static_cast<int>(offset / 3);
    const unsigned kind = offset % 3;  // down, up, double click
    owner->onMouseButton(button, kind == 0 ? 1 : 0, kind == 2 ? 1 : 0);
}

}  // namespace

MessageResult windowProcedure(WindowHandle window, unsigned message, MessageParam wParam,
                              MessageLong lParam) {
    Platform* platform = currentPlatform();
    if (platform == nullptr) {
        return 0;
    }
    WindowRecord* record = findByWindow(window);
    if (record == nullptr) {
        if (message == MSG_CREATE && lParam != 0) {
            record = new (std::nothrow) WindowRecord;
            if (record == nullptr) {
                // Refuses the creation, as Win32 does for -1.
                return -1;
            }
            record->window = window;
            record->owner = reinterpret_cast<const WindowCreation*>(lParam)->owner;
            pushFront(windowRegistry, record);
            return 0;
        }
        return platform->defaultProcedure(window, message, wParam, lParam);
    }
    AppWindow* owner = record->owner;
    switch (message) {
        case MSG_DESTROY: {
            unregister(record);
            releaseBackBuffer(*platform, *record);
            delete record;
            if (windowRegistry == nullptr) {
                platform->postQuitMessage(0);
            }
            return 0;
        }
        case MSG_SIZE:
            newBackBuffer(*platform, *record, lParam);
            owner->onResize(record->size);
            return 0;
        case MSG_PAINT:
            if (record->bitmap == nullptr) {
                // The default answer marks the window painted, so the request
                // does not come back at every pump.
                break;
            }
            platform->paintWindow(window, record->bitmap, record->pixels, record->size[0],
                                  record->size[1]);
            return 0;
        case MSG_CLOSE:
            platform->destroyNativeWindow(window);
            return 0;
        case MSG_SETFOCUS:
        case MSG_KILLFOCUS:
            owner->onFocus(message == MSG_SETFOCUS ? 1 : 0);
            // The window system may still want its own answer (Win32 moves
            // the caret); the owner only listens.
            break;
        case MSG_KEYDOWN:
        case MSG_KEYUP:
            owner->onKey(static_cast<int>(wParam), message == MSG_KEYDOWN ? 1 : 0);
            return 0;
        case MSG_MOUSESTEP: {
            const int step[2] = {static_cast<std::int16_t>(lParam & 0xffff),
                                 static_cast<std::int16_t>((lParam >> 16) & 0xffff)};
            owner->onMouseStep(step);
            return 0;
        }
        case MSG_MOUSEMOVE: {
            const int position[2] = {static_cast<int>(lParam & 0xffff),
                                     static_cast<int>((lParam >> 16) & 0xffff)};
            owner->onMouseMove(position);
            return 0;
        }
        case MSG_LBUTTONDOWN:
        case MSG_LBUTTONUP:
        case MSG_LBUTTONDBLCLK:
        case MSG_RBUTTONDOWN:
        case MSG_RBUTTONUP:
        case MSG_RBUTTONDBLCLK:
        case MSG_MBUTTONDOWN:
        case MSG_MBUTTONUP:
        case MSG_MBUTTONDBLCLK:
            mouseButton(owner, message);
            return 0;
        default:
            break;
    }
    return platform->defaultProcedure(window, message, wParam, lParam);
}

AppWindow::~AppWindow() {
    destroyWindow();
}

bool AppWindow::isOpen() {
    return findByOwner(this) != nullptr;
}

void AppWindow::drawFrame() {
    WindowRecord* record = findByOwner(this);
    Platform* platform = currentPlatform();
    if (record == nullptr || record->bitmap == nullptr || platform == nullptr) {
        return;
    }
    platform->copyToWindow(record->window, record->bitmap, record->pixels, record->size[0],
                           record->size[1]);
}

void AppWindow::onMouseMove(const int[2]) {}
void AppWindow::onMouseButton(int, int, int) {}
void AppWindow::onKey(int, int) {}
void AppWindow::onResize(const int[2]) {}
void AppWindow::onFocus(int) {}
void AppWindow::onMouseStep(const int[2]) {}

bool AppWindow::createWindow(const char* title) {
    Platform* platform = currentPlatform();
    if (platform == nullptr) {
        std::fputs("vell: cannot open a window: no window system is set up\n", stderr);
        return false;
    }
    const ListNode* newestBefore = windowRegistry;
    WindowHandle window = platform->createNativeWindow(title, this);
    if (window != nullptr && findByWindow(window) != nullptr) {
        return true;
    }
    if (window != nullptr) {
        platform->destroyNativeWindow(window);
    } else if (windowRegistry != newestBefore && windowRegistry != nullptr &&
               static_cast<WindowRecord*>(windowRegistry->item)->owner == this) {
        // The window system dropped the window after its creation message
        // without a destroy message (Wine does, without a display): the record
        // that message made names a window that no longer exists.
        auto* record = static_cast<WindowRecord*>(windowRegistry->item);
        unregister(record);
        releaseBackBuffer(*platform, *record);
        delete record;
    }
    if (windowRegistry == nullptr) {
        platform->postQuitMessage(1);
    }
    return false;
}

void AppWindow::destroyWindow() {
    WindowRecord* record = findByOwner(this);
    Platform* platform = currentPlatform();
    if (record != nullptr && platform != nullptr) {
        platform->destroyNativeWindow(record->window);
    }
}

void AppWindow::close() {
    if (WindowRecord* record = findByOwner(this)) {
        windowProcedure(record->window, MSG_CLOSE, 0, 0);
    }
}

bool AppWindow::setFullscreen(bool on) {
    WindowRecord* record = findByOwner(this);
    Platform* platform = currentPlatform();
    if (record == nullptr || platform == nullptr) {
        return false;
    }
    if (record->fullscreen == on) {
        return true;
    }
    // The platform may send the new size before it returns; the record is
    // looked up again afterwards rather than trusted across the call.
    WindowHandle window = record->window;
    if (!platform->setFullscreen(window, on)) {
        return false;
    }
    if (WindowRecord* after = findByWindow(window)) {
        after->fullscreen = on;
    }
    return true;
}

bool AppWindow::isFullscreen() {
    WindowRecord* record = findByOwner(this);
    return record != nullptr && record->fullscreen;
}

void AppWindow::captureMouse(bool on) {
    WindowRecord* record = findByOwner(this);
    Platform* platform = currentPlatform();
    if (record != nullptr && platform != nullptr) {
        platform->captureMouse(record->window, on);
    }
}

const int* AppWindow::backBufferSize() {
    static const int noSize[2] = {0, 0};
    WindowRecord* record = findByOwner(this);
    return record != nullptr ? record->size : noSize;
}

std::uint32_t* AppWindow::backBufferPixels() {
    WindowRecord* record = findByOwner(this);
    return record != nullptr ? record->pixels : nullptr;
}

void AppWindow::drawText(const char* text, const int origin[2]) {
    WindowRecord* record = findByOwner(this);
    Platform* platform = currentPlatform();
    if (record == nullptr || record->bitmap == nullptr || platform == nullptr || text == nullptr) {
        return;
    }
    platform->drawText(record->window, record->bitmap, record->pixels, record->size[0],
                       record->size[1], text, origin[0], origin[1]);
}

bool pumpMessages() {
    Platform* platform = currentPlatform();
    if (platform == nullptr) {
        return false;
    }
    if (stopRequested()) {
        closeEveryWindow(*platform);
    }
    // Nothing can be drawn while minimised: rather than spin through empty
    // frames, sleep until the window system has something to say.
    if (everyWindowLacksBackBuffer()) {
        platform->waitForMessage(IDLE_WAIT_MS);
    }
    bool quit = false;
    Message message;
    while (platform->peekMessage(message)) {
        if (message.message == MSG_QUIT) {
            exitCode = static_cast<int>(message.wParam);
            quit = true;
        } else {
            platform->dispatchMessage(message);
        }
    }
    return quit;
}

void catchStopSignals() {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#if defined(SIGHUP)
    std::signal(SIGHUP, onStopSignal);
#endif
}

bool recordStop(int signal) {
    int none = 0;
    if (!pendingStopSignal.compare_exchange_strong(none, signal)) {
        return false;
    }
    if (stopEndsAtOnce.load()) {
        endNow(signal);
    }
    return true;
}

bool stopRequested() {
    return pendingStopSignal.load(std::memory_order_relaxed) != 0;
}

int stopSignal() {
    return pendingStopSignal.load();
}

void clearStopRequest() {
    pendingStopSignal.store(0);
}

StopEndsAtOnce::StopEndsAtOnce(int descriptor, const std::string& path,
                               const std::string& note) {
    if (path.size() < sizeof fileToRemove) {
        keep(fileToRemove, path);
        fileToRemoveDescriptor.store(descriptor);
    }
    keep(noteAtStop, note);
    stopEndsAtOnce.store(true);
    // A stop that came before this is not lost.
    if (const int signal = stopSignal()) {
        endNow(signal);
    }
}

StopEndsAtOnce::~StopEndsAtOnce() {
    stopEndsAtOnce.store(false);
    fileToRemoveDescriptor.store(-1);
    fileToRemove[0] = '\0';
    noteAtStop[0] = '\0';
}

int keyDown(int virtualKey) {
    Platform* platform = currentPlatform();
    return platform != nullptr && platform->keyDown(virtualKey) != 0 ? 1 : 0;
}

int floatPrecisionField(float level) {
    const float t = level * 3.0f;
    return t < 0.375f ? 0 : 2;
}

void setFloatPrecision(float level) {
#if defined(__i386__) && defined(__GNUC__)
    unsigned short control = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    control = static_cast<unsigned short>((control & ~0x300u) |
                                          (static_cast<unsigned>(floatPrecisionField(level)) << 8));
    __asm__ volatile("fldcw %0" : : "m"(control));
#else
    (void)level;
#endif
}

int appEntry(Platform& platform, const std::function<void()>& appMain) {
    Platform* previous = setCurrentPlatform(&platform);
    exitCode = 0;
    if (!platform.registerWindowClass(WINDOW_CLASS_NAME)) {
        setCurrentPlatform(previous);
        return -1;
    }
    appMain();
    // Windows whose objects were never destroyed close here, while their
    // platform still exists.
    while (windowRegistry != nullptr) {
        auto* record = static_cast<WindowRecord*>(windowRegistry->item);
        platform.destroyNativeWindow(record->window);
        if (windowRegistry != nullptr && windowRegistry->item == record) {
            // The platform did not send the destroy message; drop the record.
            unregister(record);
            releaseBackBuffer(platform, *record);
            delete record;
        }
    }
    freeList(windowRegistry);
    setCurrentPlatform(previous);
    return exitCode;
}

}  // namespace vell
