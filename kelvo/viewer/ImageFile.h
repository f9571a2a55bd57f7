#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelvo {

// Writes a back buffer (32-bit words, blue in the low byte, top row first) as
// an 8-bit RGB PNG. The file appears whole or not at all: it is written beside
// its target and renamed into place. Only a regular file is ever replaced: a
// symbolic link is followed to the file it names, and an existing device or
// named pipe is written straight through. A stop request while it works ends
// the program at once, with no file left (vell::StopEndsAtOnce). false, with
// the reason in error.
bool writePng(const std::string& path, const std::uint32_t* pixels, int width, int height,
              std::string& error);

// Writes like writePng, but never replaces a file: the picture takes the
// first of nameFor(0), nameFor(1), ... (at most attempts names) that no file
// has, even against another program creating it at the same moment. The name
// taken goes to path. false, with the reason in error, when every name is
// taken or the folder refuses.
bool writeNewPng(const std::function<std::string(int)>& nameFor, int attempts,
                 const std::uint32_t* pixels, int width, int height, std::string& path,
                 std::string& error);

// Whether a file could be written at path, checked before a long run so that a
// bad path fails at once; nothing is left behind, and a pipe or device is not
// opened. false, with the reason (also for a folder or a socket).
bool checkWritable(const std::string& path, std::string& error);

// Reads an 8-bit RGB or RGBA PNG back into back-buffer words.
bool readPng(const std::string& path, std::vector<std::uint32_t>& pixels, int& width,
             int& height, std::string& error);

}  // namespace kelvo
