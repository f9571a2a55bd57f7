#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace kelvo {

// Names for the same millisecond that may be tried before a save gives up.
inline constexpr int SCREENSHOT_NAME_ATTEMPTS = 1000;

// "kelvo-YYYYMMDD-HHMMSS-mmm.png" for a broken-down time and its
// millisecond; attempt n > 0 adds "-n" before the extension, for a second
// picture in the same millisecond.
std::string screenshotName(const std::tm& time, int millisecond, int attempt);

// Writes a back buffer as a PNG in folder (empty: the current one) under the
// name for the given time, never replacing a file: a name already taken
// moves on to the next attempt. The path written goes to path. false, with
// the reason in error.
bool saveScreenshot(const std::string& folder, const std::tm& time, int millisecond,
                    const std::uint32_t* pixels, int width, int height, std::string& path,
                    std::string& error);

// As above at the present local time.
bool saveScreenshot(const std::string& folder, const std::uint32_t* pixels, int width, int height,
                    std::string& path, std::string& error);

}  // namespace kelvo
