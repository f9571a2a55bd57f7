#include "kelvo/Viewer.h"

namespace kelvo {

Viewer::Viewer(const World* w, const Observer& o, int mode) : RayTracer(w, o, mode) {}

void Viewer::onKey(int, int) {}

void Viewer::onMouseMove(const int[2]) {}

void Viewer::onMouseButton(int, int, int) {}

}  // namespace kelvo
