#include "velllib/text_ttf.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cstring>

namespace vell {

// Generated at build time from the font file.
extern const unsigned char embeddedFont[];
extern const std::size_t embeddedFontSize;

struct TextRenderer::Font {
    explicit Font(TTF_Font* f) : ttf(f) {}
    ~Font() { TTF_CloseFont(ttf); }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    TTF_Font* const ttf;
};

TextRenderer::TextRenderer() = default;

TextRenderer::~TextRenderer() {
    font_.reset();
    if (ttfStarted_) {
        TTF_Quit();
    }
}

bool TextRenderer::open(std::string& error) {
    if (font_ != nullptr) {
        return true;
    }
    if (!ttfStarted_) {
        if (TTF_Init() != 0) {
            error = std::string("cannot start the font renderer: ") + TTF_GetError();
            return false;
        }
        ttfStarted_ = true;
    }
    SDL_RWops* source = SDL_RWFromConstMem(embeddedFont, static_cast<int>(embeddedFontSize));
    TTF_Font* font = source != nullptr ? TTF_OpenFontRW(source, 1, FONT_SIZE) : nullptr;
    if (font == nullptr) {
        error = std::string("cannot load the built-in font: ") + TTF_GetError();
        return false;
    }
    font_ = std::make_unique<Font>(font);
    return true;
}

namespace {

// Copies one rendered line (8-bit, palette from white to black) into the
// buffer with its top-left corner at (left, top), clipped to the buffer.
void copyLine(const SDL_Surface& line, std::uint32_t* pixels, int width, int height, long long left,
              long long top) {
    const SDL_Palette* palette = line.format->palette;
    if (line.format->BytesPerPixel != 1 || palette == nullptr) {
        return;
    }
    std::uint32_t words[256] = {};
    for (int i = 0; i < palette->ncolors && i < 256; ++i) {
        const SDL_Color& c = palette->colors[i];
        words[i] = static_cast<std::uint32_t>(c.b) | static_cast<std::uint32_t>(c.g) << 8 |
                   static_cast<std::uint32_t>(c.r) << 16;
    }
    const long long x0 = std::max(left, 0LL);
    const long long x1 = std::min(left + line.w, static_cast<long long>(width));
    const long long y0 = std::max(top, 0LL);
    const long long y1 = std::min(top + line.h, static_cast<long long>(height));
    for (long long y = y0; y < y1; ++y) {
        const auto* source = static_cast<const std::uint8_t*>(line.pixels) + (y - top) * line.pitch;
        std::uint32_t* row = pixels + y * width;
        for (long long x = x0; x < x1; ++x) {
            row[x] = words[source[x - left]];
        }
    }
}

}  // namespace

int TextRenderer::lineHeight() const {
    return font_ != nullptr ? TTF_FontLineSkip(font_->ttf) : 0;
}

void TextRenderer::draw(std::uint32_t* pixels, int width, int height, const char* text, int left,
                        int top) const {
    if (font_ == nullptr || pixels == nullptr || text == nullptr || width <= 0 || height <= 0) {
        return;
    }
    const SDL_Color ink{0, 0, 0, 255};
    const SDL_Color paper{255, 255, 255, 255};
    const int skip = TTF_FontLineSkip(font_->ttf);
    std::string line;
    long long lineTop = top;
    const char* start = text;
    while (lineTop < height) {
        const char* end = std::strchr(start, '\n');
        const std::size_t length =
            end != nullptr ? static_cast<std::size_t>(end - start) : std::strlen(start);
        // The renderer refuses an empty line, which has nothing to paint anyway.
        if (length > 0) {
            line.assign(start, length);
            SDL_Surface* rendered = TTF_RenderText_Shaded(font_->ttf, line.c_str(), ink, paper);
            if (rendered != nullptr) {
                copyLine(*rendered, pixels, width, height, left, lineTop);
                SDL_FreeSurface(rendered);
            }
        }
        if (end == nullptr) {
            break;
        }
        start = end + 1;
        lineTop += skip;
    }
}

}  // namespace vell
