#include "kelvo/ImageFile.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace kelvo {

namespace {

std::string partialPath(const std::string& path) { return path + ".kelvo-partial"; }

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
    const std::string probe = partialPath(path);
    std::FILE* file = std::fopen(probe.c_str(), "wb");
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

    const std::string partial = partialPath(path);
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = png_image_write_to_stdio(&image, file, 0, rgb.data(), width * 3, nullptr);
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = "cannot write " + path + ": " +
                (written ? std::string(std::strerror(errno)) : std::string(image.message));
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
