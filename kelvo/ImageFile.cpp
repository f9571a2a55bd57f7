#include "kelvo/ImageFile.h"

#include <png.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace kelvo {

namespace {

// Creates a new file with a name of its own beside path (in the same folder,
// so that the rename into place stays on one file system) and opens it for
// writing. Two runs writing the same output never share it, and no existing
// file is touched. Null with errno set when the folder refuses.
std::FILE* createTemporaryBeside(const std::string& path, std::string& temporary) {
    std::string name = path + ".kelvo-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        return nullptr;
    }
    // mkstemp makes the file private (0600); the picture gets the permissions
    // of any new file, as if it had been opened directly.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(name.c_str());
        errno = error;
        return nullptr;
    }
    temporary = name;
    return file;
}

// Writes the stream's buffer and then the file's content to the disk, so that
// after the rename a crash leaves the whole new picture or the old file.
bool flushToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
}

}  // namespace

bool checkWritable(const std::string& path, std::string& error) {
    std::error_code ec;
    if (path.empty()) {
        error = "the output file name is empty";
        return false;
    }
    if (std::filesystem::is_directory(path, ec)) {
        error = "cannot write " + path + ": it is a directory";
        return false;
    }
    std::string probe;
    std::FILE* file = createTemporaryBeside(path, probe);
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(file);
    std::remove(probe.c_str());
    return true;
}

bool writePng(const std::string& path, const std::uint32_t* pixels, int width, int height,
              std::string& error) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0, n = static_cast<std::size_t>(width) * height; i < n; ++i) {
        rgb[3 * i + 0] = static_cast<std::uint8_t>(pixels[i] >> 16);
        rgb[3 * i + 1] = static_cast<std::uint8_t>(pixels[i] >> 8);
        rgb[3 * i + 2] = static_cast<std::uint8_t>(pixels[i]);
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;

    std::string partial;
    std::FILE* file = createTemporaryBeside(path, partial);
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = png_image_write_to_stdio(&image, file, 0, rgb.data(), width * 3, nullptr);
    const bool synced = written && flushToDisk(file);
    const int syncError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !synced || !closed) {
        error = "cannot write " + path + ": " +
                (!written ? std::string(image.message)
                          : std::string(std::strerror(synced ? errno : syncError)));
        png_image_free(&image);
        std::remove(partial.c_str());
        return false;
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

bool readPng(const std::string& path, std::vector<std::uint32_t>& pixels, int& width,
             int& height, std::string& error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        error = image.message;
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
        error = image.message;
        png_image_free(&image);
        return false;
    }
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    pixels.assign(static_cast<std::size_t>(width) * height, 0);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = std::uint32_t{rgb[3 * i]} << 16 | std::uint32_t{rgb[3 * i + 1]} << 8 |
                    rgb[3 * i + 2];
    }
    return true;
}

}  // namespace kelvo
