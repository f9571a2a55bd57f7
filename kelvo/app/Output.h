#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo {

// Writes a run's result (the statistics, the benchmark's figures) on standard
// output. false, after a message, when it could not be written whole.
bool printResult(const std::string& text);

// Whether the PNG could be written at path, checked before the run so that a
// bad path fails at once. false after a message.
bool checkOutputPath(const std::string& path);

// Writes the last frame of a headless run as a PNG at path. false after a
// message, also when no frame was drawn.
bool writeLastFrame(const std::string& path, const std::vector<std::uint32_t>& pixels, int width,
                    int height);

}  // namespace kelvo
