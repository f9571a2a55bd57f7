#include "kelvo/viewer/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "velllib/app.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

// The one PNG codec of every target, header-only, so that the Windows build
// needs no library that Debian does not ship for it.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

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
#if !defined(_WIN32)
    // mkstemp makes the file private (0600); the picture gets the permissions
    // of any new file, as if it had been opened directly.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
#endif
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        std::remove(name.c_str());
        errno = error;
        return nullptr;
    }
    temporary = name;
    return file;
}

// Writes the stream's buffer and then the file's content to the disk, so that
// after the rename a crash leaves the whole new picture or the old file.
bool flushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) {
        return false;
    }
#if defined(_WIN32)
    return ::_commit(::_fileno(file)) == 0;
#else
    return ::fsync(::fileno(file)) == 0;
#endif
}

struct PngSink {
    std::FILE* file;
    bool failed = false;
};

void writeToFile(void* context, void* data, int size) {
    auto* sink = static_cast<PngSink*>(context);
    if (!sink->failed &&
        std::fwrite(data, 1, static_cast<std::size_t>(size), sink->file) !=
            static_cast<std::size_t>(size)) {
        sink->failed = true;
    }
}

// Puts the finished file in place of path, replacing what was there; false
// with the reason. rename() on Windows refuses an existing target, so there
// the replacement is asked for explicitly.
bool replaceFile(const std::string& from, const std::string& to, std::string& reason) {
#if defined(_WIN32)
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    reason = "cannot replace it (Windows error " + std::to_string(GetLastError()) + ")";
    return false;
#else
    if (std::rename(from.c_str(), to.c_str()) == 0) {
        return true;
    }
    reason = std::strerror(errno);
    return false;
#endif
}

}  // namespace

namespace {

namespace fs = std::filesystem;

// Where a picture for path goes. A symbolic link is followed to its target
// (which may not exist yet); a target that exists and is not a regular file
// is written straight through, never replaced.
struct Target {
    std::string path;
    bool straight = false;
};

#if defined(_WIN32)
// What Windows itself opens for path, where it exists: through any symbolic
// links and junctions (which the library's paths do not follow here) to the
// final file's name, or straight for a device or a pipe. false where nothing
// opens (nothing there yet, or a dangling link): path stays as it is.
bool openedTarget(const std::string& path, Target& target) {
    HANDLE handle =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD type = GetFileType(handle);
    bool found = true;
    if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
        target.path = path;
        target.straight = true;
    } else {
        std::string name(MAX_PATH, '\0');
        DWORD length =
            GetFinalPathNameByHandleA(handle, name.data(), static_cast<DWORD>(name.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length >= name.size()) {
            name.resize(length + 1);
            length = GetFinalPathNameByHandleA(handle, name.data(), static_cast<DWORD>(name.size()),
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        }
        found = length > 0 && length < name.size();
        if (found) {
            name.resize(length);
            // The name comes as \\?\C:\... or \\?\UNC\server\share\...
            if (name.rfind("\\\\?\\UNC\\", 0) == 0) {
                name = "\\\\" + name.substr(8);
            } else if (name.rfind("\\\\?\\", 0) == 0) {
                name = name.substr(4);
            }
            target.path = name;
            target.straight = false;
        }
    }
    CloseHandle(handle);
    return found;
}
#endif

// false, with the reason, for a path that no picture can go to.
bool findTarget(const std::string& path, Target& target, std::string& error) {
    if (path.empty()) {
        error = "the output file name is empty";
        return false;
    }
#if defined(_WIN32)
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const bool opened = openedTarget(path, target);
    if (!opened && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A link whose target does not open: replacing it would lose the
        // link, and where it points cannot be read here.
        error = "cannot write " + path + ": it is a link to nothing that opens";
        return false;
    }
    if (opened) {
        if (target.straight) {
            return true;
        }
        std::error_code ec;
        if (fs::is_directory(target.path, ec)) {
            error = "cannot write " + path + ": it is a directory";
            return false;
        }
        return true;
    }
#endif
    fs::path at = path;
    // As many links as the system itself follows before it calls it a loop.
    for (int links = 0;; ++links) {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(at, ec);
        if (status.type() != fs::file_type::symlink) {
            break;
        }
        if (links == 40) {
            error = "cannot write " + path + ": too many levels of symbolic links";
            return false;
        }
        const fs::path next = fs::read_symlink(at, ec);
        if (ec) {
            error = "cannot write " + path + ": " + ec.message();
            return false;
        }
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    std::error_code ec;
    const fs::file_type type = fs::status(at, ec).type();
    target.path = at.string();
    target.straight = false;
    switch (type) {
        case fs::file_type::not_found:
        case fs::file_type::regular:
            return true;
        case fs::file_type::directory:
            error = "cannot write " + path + ": it is a directory";
            return false;
        case fs::file_type::character:
        case fs::file_type::block:
        case fs::file_type::fifo:
            target.straight = true;
            return true;
        case fs::file_type::socket:
            error = "cannot write " + path + ": it is a socket";
            return false;
        default:
            error = "cannot write " + path + ": " + (ec ? ec.message() : "not a file");
            return false;
    }
}

}  // namespace

bool checkWritable(const std::string& path, std::string& error) {
    Target target;
    if (!findTarget(path, target, error)) {
        return false;
    }
    if (target.straight) {
        // Opening a pipe would wait for its reader, and a device may act on
        // an open: only the permission is checked (Windows says nothing of a
        // pipe's or a device's: writing will tell).
#if !defined(_WIN32)
        if (::access(target.path.c_str(), W_OK) != 0) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
#endif
        return true;
    }
    std::string probe;
    std::FILE* file = createTemporaryBeside(target.path, probe);
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(file);
    std::remove(probe.c_str());
    return true;
}

namespace {

std::vector<std::uint8_t> rgbOf(const std::uint32_t* pixels, int width, int height) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0, n = static_cast<std::size_t>(width) * height; i < n; ++i) {
        rgb[3 * i + 0] = static_cast<std::uint8_t>(pixels[i] >> 16);
        rgb[3 * i + 1] = static_cast<std::uint8_t>(pixels[i] >> 8);
        rgb[3 * i + 2] = static_cast<std::uint8_t>(pixels[i]);
    }
    return rgb;
}

// Encodes the picture into file; toDisk: and flushes it through to the disk.
// Closes the file. false with the reason.
bool encodeInto(std::FILE* file, bool toDisk, const std::vector<std::uint8_t>& rgb, int width,
                int height, std::string& reason) {
    PngSink sink{file};
    const bool encoded =
        stbi_write_png_to_func(writeToFile, &sink, width, height, 3, rgb.data(), width * 3) != 0;
    const bool written = encoded && !sink.failed;
    const int writeErrno = errno;
    const bool flushed = written && (toDisk ? flushToDisk(file) : std::fflush(file) == 0);
    const int flushErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (written && flushed && closed) {
        return true;
    }
    reason = !encoded   ? std::string("the PNG encoder failed")
             : !written ? std::string(std::strerror(writeErrno))
             : !flushed ? std::string(std::strerror(flushErrno))
                        : std::string(std::strerror(errno));
    return false;
}

// Encodes the picture into a new file beside path, written through to the
// disk; its name goes to partial. false with the reason, nothing left behind.
bool writeBeside(const std::string& path, const std::uint32_t* pixels, int width, int height,
                 std::string& partial, std::string& error) {
    const std::vector<std::uint8_t> rgb = rgbOf(pixels, width, height);
    std::FILE* file = createTemporaryBeside(path, partial);
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string reason;
    if (!encodeInto(file, true, rgb, width, height, reason)) {
        error = "cannot write " + path + ": " + reason;
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

std::string stoppedNote(const std::string& path) {
    return "kelvo: stopped while writing " + path + "; it was not written\n";
}

enum class Placed { YES, TAKEN, FAILED };

// Gives the finished file the name to, unless a file already has it; unlike
// a rename, this never replaces one, even when another program creates it
// at the same moment.
Placed placeNew(const std::string& from, const std::string& to, std::string& reason) {
#if defined(_WIN32)
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        return Placed::YES;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
        return Placed::TAKEN;
    }
    reason = "cannot name it (Windows error " + std::to_string(code) + ")";
    return Placed::FAILED;
#else
    if (::link(from.c_str(), to.c_str()) == 0) {
        std::remove(from.c_str());
        return Placed::YES;
    }
    if (errno == EEXIST) {
        return Placed::TAKEN;
    }
    // A file system without hard links: the name is claimed by creating it
    // empty, exclusively, and the picture then renamed over the claim.
    const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        if (errno == EEXIST) {
            return Placed::TAKEN;
        }
        reason = std::strerror(errno);
        return Placed::FAILED;
    }
    ::close(fd);
    if (std::rename(from.c_str(), to.c_str()) == 0) {
        return Placed::YES;
    }
    reason = std::strerror(errno);
    std::remove(to.c_str());
    return Placed::FAILED;
#endif
}

}  // namespace

bool writePng(const std::string& path, const std::uint32_t* pixels, int width, int height,
              std::string& error) {
    Target target;
    if (!findTarget(path, target, error)) {
        return false;
    }
    std::string reason;
    if (target.straight) {
        // A device or a pipe: what reads it takes the bytes as they come, and
        // a stop leaves nothing of ours behind to remove.
        const vell::StopEndsAtOnce stop(-1, "", "kelvo: stopped while writing " + path + "\n");
        std::FILE* file = std::fopen(target.path.c_str(), "wb");
        if (file == nullptr) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        if (!encodeInto(file, false, rgbOf(pixels, width, height), width, height, reason)) {
            error = "cannot write " + path + ": " + reason;
            return false;
        }
        return true;
    }
    std::string partial;
    std::FILE* file = createTemporaryBeside(target.path, partial);
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    {
        // The encoding of a large picture takes seconds and cannot look at
        // the stop flag: a stop ends the program there, without the file.
#if defined(_WIN32)
        const vell::StopEndsAtOnce stop(::_fileno(file), partial, stoppedNote(path));
#else
        const vell::StopEndsAtOnce stop(::fileno(file), partial, stoppedNote(path));
#endif
        if (!encodeInto(file, true, rgbOf(pixels, width, height), width, height, reason)) {
            error = "cannot write " + path + ": " + reason;
            std::remove(partial.c_str());
            return false;
        }
    }
    // The link stays a link: its target gets the picture.
    if (!replaceFile(partial, target.path, reason)) {
        error = "cannot write " + path + ": " + reason;
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

bool writeNewPng(const std::function<std::string(int)>& nameFor, int attempts,
                 const std::uint32_t* pixels, int width, int height, std::string& path,
                 std::string& error) {
    std::string partial;
    if (!writeBeside(nameFor(0), pixels, width, height, partial, error)) {
        return false;
    }
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const std::string name = nameFor(attempt);
        std::string reason;
        switch (placeNew(partial, name, reason)) {
            case Placed::YES:
                path = name;
                return true;
            case Placed::TAKEN:
                continue;
            case Placed::FAILED:
                error = "cannot write " + name + ": " + reason;
                std::remove(partial.c_str());
                return false;
        }
    }
    error = "cannot write " + nameFor(0) + ": it and the next " + std::to_string(attempts - 1) +
            " names exist already";
    std::remove(partial.c_str());
    return false;
}

bool readPng(const std::string& path, std::vector<std::uint32_t>& pixels, int& width, int& height,
             std::string& error) {
    int w = 0, h = 0, channels = 0;
    stbi_uc* rgb = stbi_load(path.c_str(), &w, &h, &channels, 3);
    if (rgb == nullptr) {
        error = "cannot read " + path + ": " + stbi_failure_reason();
        return false;
    }
    width = w;
    height = h;
    pixels.assign(static_cast<std::size_t>(width) * height, 0);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] =
            std::uint32_t{rgb[3 * i]} << 16 | std::uint32_t{rgb[3 * i + 1]} << 8 | rgb[3 * i + 2];
    }
    stbi_image_free(rgb);
    return true;
}

}  // namespace kelvo
