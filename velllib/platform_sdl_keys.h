#pragma once

// The SDL backend's keys: SDL's key events and keyboard state read as the
// window layer's virtual key codes.

#include <SDL.h>

namespace vell::sdl {

// The virtual key of a key event, or 0 for a key without one.
int virtualKeyOf(const SDL_Keysym& key);
// 1 while the key of a virtual key code is held, else 0.
int keyDown(int virtualKey);

}  // namespace vell::sdl
