#pragma once

// The status-text renderer of runs without a window: GDI on Windows, where
// the window draws its text with GDI too, and the built-in TrueType font
// elsewhere. Both offer the same TextRenderer.
#if defined(_WIN32)
#include "velllib/text_gdi.h"
#else
#include "velllib/text_ttf.h"
#endif
