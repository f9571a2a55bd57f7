#include "kelvo/view/Rasterizer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "velllib/vell_time.h"

namespace kelvo {

void formatBounded(char* buffer, std::size_t size, const char* format, ...) {
    if (size == 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, size, format, args);
    va_end(args);
}

Rasterizer::Rasterizer(double interval) : rateInterval(interval) {}

void Rasterizer::drawFrame() {
    char text[STATUS_BUFFER_SIZE];
    text[0] = '\0';
    statusText(text, sizeof text);
    text[sizeof text - 1] = '\0';
    const std::size_t used = std::strlen(text);
    formatBounded(text + used, sizeof text - used, "\n%.3f fps",
                  static_cast<double>(framesPerSecond));
    std::memcpy(overlay_, text, sizeof text);

    if (drawOverlay) {
        const int origin[2] = {0, 0};
        drawText(text, origin);
        drawLegend();
    }
    AppWindow::drawFrame();

    // The clock still holds the reading taken at the start of the frame, and
    // the count comes after the copy: the rate shown never includes this frame.
    ++frameCount;
    const double elapsed = vell::clockSeconds - rateStart;
    if (!(rateInterval > elapsed)) {
        framesPerSecond = static_cast<float>(frameCount / elapsed);
        rateStart = vell::clockSeconds;
        frameCount = 0;
    }
}

}  // namespace kelvo
