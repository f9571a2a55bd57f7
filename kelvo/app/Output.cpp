#include "kelvo/app/Output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kelvo/viewer/ImageFile.h"

namespace kelvo {

// What a run prints on stdout is its result: a failed write (a full disk, a
// closed pipe) is a failure, not a success without output.
bool printResult(const std::string& text) {
    errno = 0;
    const bool written = std::fputs(text.c_str(), stdout) >= 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (written && flushed && !std::ferror(stdout)) {
        return true;
    }
    std::fprintf(stderr, "kelvo: cannot write the result to standard output: %s\n",
                 errno != 0 ? std::strerror(errno) : "write error");
    return false;
}

bool checkOutputPath(const std::string& path) {
    std::string error;
    if (!checkWritable(path, error)) {
        std::fprintf(stderr, "kelvo: %s\n", error.c_str());
        return false;
    }
    return true;
}

bool writeLastFrame(const std::string& path, const std::vector<std::uint32_t>& pixels, int width,
                    int height) {
    if (pixels.empty()) {
        std::fprintf(stderr, "kelvo: no frame was drawn, %s not written\n", path.c_str());
        return false;
    }
    std::string error;
    if (!writePng(path, pixels.data(), width, height, error)) {
        std::fprintf(stderr, "kelvo: %s\n", error.c_str());
        return false;
    }
    return true;
}

}  // namespace kelvo
