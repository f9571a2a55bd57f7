#include "kelvo/viewer/Screenshot.h"

#include <chrono>
#include <cstdio>

#include "kelvo/viewer/ImageFile.h"

namespace kelvo {

std::string screenshotName(const std::tm& time, int millisecond, int attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "kelvo-%04d%02d%02d-%02d%02d%02d-%03d", time.tm_year + 1900,
                  time.tm_mon + 1, time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec,
                  millisecond);
    std::string text = name;
    if (attempt > 0) {
        text += "-" + std::to_string(attempt);
    }
    return text + ".png";
}

bool saveScreenshot(const std::string& folder, const std::tm& time, int millisecond,
                    const std::uint32_t* pixels, int width, int height, std::string& path,
                    std::string& error) {
    if (pixels == nullptr || width <= 0 || height <= 0) {
        error = "there is no picture to save";
        return false;
    }
    std::string prefix = folder;
    if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\') {
        prefix += '/';
    }
    return writeNewPng(
        [&](int attempt) { return prefix + screenshotName(time, millisecond, attempt); },
        SCREENSHOT_NAME_ATTEMPTS, pixels, width, height, path, error);
}

bool saveScreenshot(const std::string& folder, const std::uint32_t* pixels, int width, int height,
                    std::string& path, std::string& error) {
    using namespace std::chrono;
    // The system clock counts from the Unix epoch, as time_t does; second
    // and millisecond come from one reading, so names sort in the order the
    // pictures were taken.
    const auto sinceEpoch =
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const std::time_t second = static_cast<std::time_t>(sinceEpoch / 1000);
    // Only the window's thread takes screenshots, so localtime's shared
    // result is not raced.
    const std::tm* local = std::localtime(&second);
    if (local == nullptr) {
        error = "the clock's time cannot be read as a local time";
        return false;
    }
    const std::tm time = *local;
    return saveScreenshot(folder, time, static_cast<int>(sinceEpoch % 1000), pixels, width, height,
                          path, error);
}

}  // namespace kelvo
