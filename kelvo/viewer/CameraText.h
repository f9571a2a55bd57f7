#pragma once

#include <string>

#include "kelvo/view/Observer.h"

namespace kelvo {

// Where an observer is and where it looks: what --camera gives.
struct CameraPlace {
    Vec3 position;
    Vec3 angles;  // pitch, yaw, roll, as the Observer keeps them
};

// "--camera x,y,z,pitch,yaw,roll" for the observer, each number with the
// fewest digits that read back as exactly the same double.
std::string cameraOption(const Observer& observer);

// Reads "x,y,z,pitch,yaw,roll": six finite decimal numbers, nothing else.
// Empty when place was set, else what is wrong with text.
std::string parseCamera(const std::string& text, CameraPlace& place);

// Puts the observer there, at rest, with its basis and mapping to match.
void placeObserver(Observer& observer, const CameraPlace& place);

}  // namespace kelvo
