#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo {

// Writes a back buffer (32-bit words, blue in the low byte, top row first) as
// an 8-bit RGB PNG. The file appears whole or not at all: it is written beside
// its target and renamed into place. false, with the reason in error.
bool writePng(const std::string& path, const std::uint32_t* pixels, int width, int height,
              std::string& error);

// Whether a file could be written at path, checked before a long run so that a
// bad path fails at once; nothing is left behind. false, with the reason.
bool checkWritable(const std::string& path, std::string& error);

// Reads an 8-bit RGB or RGBA PNG back into back-buffer words.
bool readPng(const std::string& path, std::vector<std::uint32_t>& pixels, int& width,
             int& height, std::string& error);

}  // namespace kelvo
