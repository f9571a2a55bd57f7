#include "velllib/text_gdi.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace vell {

namespace {

HDC dc(void* handle) { return static_cast<HDC>(handle); }

}  // namespace

TextRenderer::~TextRenderer() {
    if (memoryDC_ != nullptr) {
        DeleteDC(dc(memoryDC_));
    }
}

bool TextRenderer::open(std::string& error) {
    if (memoryDC_ != nullptr) {
        return true;
    }
    memoryDC_ = CreateCompatibleDC(nullptr);
    if (memoryDC_ == nullptr) {
        error = "cannot make a GDI memory device context for the status text (error " +
                std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}

int TextRenderer::lineHeight() const {
    TEXTMETRICA metrics;
    if (memoryDC_ == nullptr || !GetTextMetricsA(dc(memoryDC_), &metrics)) {
        return 0;
    }
    return metrics.tmHeight + metrics.tmExternalLeading;
}

void TextRenderer::draw(std::uint32_t* pixels, int width, int height, const char* text, int left,
                        int top) const {
    if (memoryDC_ == nullptr || pixels == nullptr || text == nullptr || width <= 0 ||
        height <= 0 || left >= width || top >= height) {
        return;
    }
    // The text's extent, so that only that part of the picture makes the trip
    // through a bitmap of GDI's and back.
    RECT extent{0, 0, 0, 0};
    const int length = static_cast<int>(std::strlen(text));
    DrawTextA(dc(memoryDC_), text, length, &extent, DT_CALCRECT);
    const long right = std::min<long>(static_cast<long>(left) + extent.right, width);
    const long bottom = std::min<long>(static_cast<long>(top) + extent.bottom, height);
    const long x0 = std::max(left, 0);
    const long y0 = std::max(top, 0);
    if (right <= x0 || bottom <= y0) {
        return;
    }
    const int w = static_cast<int>(right - x0);
    const int h = static_cast<int>(bottom - y0);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down, like the back buffer
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc(memoryDC_), &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) {
        return;
    }
    auto* patch = static_cast<std::uint32_t*>(bits);
    for (int y = 0; y < h; ++y) {
        std::memcpy(patch + static_cast<std::size_t>(y) * w,
                    pixels + static_cast<std::size_t>(y0 + y) * width + x0,
                    static_cast<std::size_t>(w) * 4);
    }
    HGDIOBJ previous = SelectObject(dc(memoryDC_), bitmap);
    RECT area{static_cast<LONG>(left - x0), static_cast<LONG>(top - y0), w, h};
    DrawTextA(dc(memoryDC_), text, length, &area, 0);
    // GDI may batch its drawing; the pixels are read directly below.
    GdiFlush();
    SelectObject(dc(memoryDC_), previous);
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = pixels + static_cast<std::size_t>(y0 + y) * width + x0;
        const std::uint32_t* source = patch + static_cast<std::size_t>(y) * w;
        // GDI leaves bits 24-31 as they were; the back buffer keeps them zero.
        for (int x = 0; x < w; ++x) {
            row[x] = source[x] & 0x00ffffffu;
        }
    }
    DeleteObject(bitmap);
}

}  // namespace vell
