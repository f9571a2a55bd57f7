#include "velllib/platform_sdl_keys.h"

#include "velllib/app.h"

namespace vell::sdl {

namespace {

// Keys other than letters and digits: virtual key code and the scancodes that
// make it (either of the two for keys that exist twice).
struct KeyScancodes {
    int virtualKey;
    SDL_Scancode first;
    SDL_Scancode second;
};

constexpr KeyScancodes NAMED_KEYS[] = {
    {KEY_BACK, SDL_SCANCODE_BACKSPACE, SDL_SCANCODE_UNKNOWN},
    {KEY_TAB, SDL_SCANCODE_TAB, SDL_SCANCODE_UNKNOWN},
    {KEY_RETURN, SDL_SCANCODE_RETURN, SDL_SCANCODE_KP_ENTER},
    {KEY_SHIFT, SDL_SCANCODE_LSHIFT, SDL_SCANCODE_RSHIFT},
    {KEY_CONTROL, SDL_SCANCODE_LCTRL, SDL_SCANCODE_RCTRL},
    {KEY_ALT, SDL_SCANCODE_LALT, SDL_SCANCODE_RALT},
    {KEY_ESCAPE, SDL_SCANCODE_ESCAPE, SDL_SCANCODE_UNKNOWN},
    {KEY_SPACE, SDL_SCANCODE_SPACE, SDL_SCANCODE_UNKNOWN},
    {KEY_LEFT, SDL_SCANCODE_LEFT, SDL_SCANCODE_UNKNOWN},
    {KEY_UP, SDL_SCANCODE_UP, SDL_SCANCODE_UNKNOWN},
    {KEY_RIGHT, SDL_SCANCODE_RIGHT, SDL_SCANCODE_UNKNOWN},
    {KEY_DOWN, SDL_SCANCODE_DOWN, SDL_SCANCODE_UNKNOWN},
};

// The scancode of a letter or digit key on a US layout.
SDL_Scancode usScancode(int virtualKey) {
    if (virtualKey >= 'A' && virtualKey <= 'Z') {
        return static_cast<SDL_Scancode>(SDL_SCANCODE_A + (virtualKey - 'A'));
    }
    if (virtualKey == '0') {
        return SDL_SCANCODE_0;
    }
    if (virtualKey >= '1' && virtualKey <= '9') {
        return static_cast<SDL_Scancode>(SDL_SCANCODE_1 + (virtualKey - '1'));
    }
    return SDL_SCANCODE_UNKNOWN;
}

}  // namespace

// Letters and digits follow the keyboard layout, as virtual keys do: on a
// French layout 'A' is the key that types 'a'. Layouts without Latin letters
// keep the US positions.
int virtualKeyOf(const SDL_Keysym& key) {
    if (key.sym >= SDLK_a && key.sym <= SDLK_z) {
        return 'A' + (key.sym - SDLK_a);
    }
    if (key.sym >= SDLK_0 && key.sym <= SDLK_9) {
        return '0' + (key.sym - SDLK_0);
    }
    if (key.scancode >= SDL_SCANCODE_A && key.scancode <= SDL_SCANCODE_Z) {
        return 'A' + (key.scancode - SDL_SCANCODE_A);
    }
    if (key.scancode >= SDL_SCANCODE_1 && key.scancode <= SDL_SCANCODE_9) {
        return '1' + (key.scancode - SDL_SCANCODE_1);
    }
    if (key.scancode == SDL_SCANCODE_0) {
        return '0';
    }
    if (key.scancode >= SDL_SCANCODE_F1 && key.scancode <= SDL_SCANCODE_F12) {
        return KEY_F1 + (key.scancode - SDL_SCANCODE_F1);
    }
    for (const KeyScancodes& named : NAMED_KEYS) {
        if (key.scancode == named.first || key.scancode == named.second) {
            return named.virtualKey;
        }
    }
    return 0;
}

int keyDown(int virtualKey) {
    const Uint8* state = SDL_GetKeyboardState(nullptr);
    if (state == nullptr) {
        return 0;
    }
    SDL_Scancode scancode = usScancode(virtualKey);
    if (scancode != SDL_SCANCODE_UNKNOWN) {
        const SDL_Keycode key = virtualKey >= 'A' && virtualKey <= 'Z'
                                    ? static_cast<SDL_Keycode>(virtualKey - 'A' + 'a')
                                    : static_cast<SDL_Keycode>(virtualKey);
        const SDL_Scancode mapped = SDL_GetScancodeFromKey(key);
        return state[mapped != SDL_SCANCODE_UNKNOWN ? mapped : scancode] != 0 ? 1 : 0;
    }
    if (virtualKey >= KEY_F1 && virtualKey < KEY_F1 + 12) {
        return state[SDL_SCANCODE_F1 + (virtualKey - KEY_F1)] != 0 ? 1 : 0;
    }
    for (const KeyScancodes& named : NAMED_KEYS) {
        if (named.virtualKey == virtualKey) {
            return state[named.first] != 0 ||
                           (named.second != SDL_SCANCODE_UNKNOWN && state[named.second] != 0)
                       ? 1
                       : 0;
        }
    }
    return 0;
}

}  // namespace vell::sdl
