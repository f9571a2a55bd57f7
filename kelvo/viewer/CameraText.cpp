#include "kelvo/viewer/CameraText.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace kelvo {

namespace {

constexpr const char* FIELD_NAMES[6] = {"x", "y", "z", "pitch", "yaw", "roll"};

void appendNumber(std::string& text, double value) {
    // Shortest round trip: reading the digits back gives this double again.
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    text.append(digits, result.ptr);
}

}  // namespace

std::string cameraOption(const Observer& observer) {
    const double values[6] = {observer.position.x, observer.position.y, observer.position.z,
                              observer.angles.x,   observer.angles.y,   observer.angles.z};
    std::string text = "--camera ";
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            text += ',';
        }
        appendNumber(text, values[i]);
    }
    return text;
}

std::string parseCamera(const std::string& text, CameraPlace& place) {
    const std::string usage =
        "camera must be six numbers x,y,z,pitch,yaw,roll, for example 0,0,-10,0,0,0";
    double values[6];
    std::size_t start = 0;
    for (int i = 0; i < 6; ++i) {
        const std::size_t comma = text.find(',', start);
        const bool last = i == 5;
        if (last != (comma == std::string::npos)) {
            return usage + ", not '" + text + "'";
        }
        const std::size_t end = last ? text.size() : comma;
        const std::string field = text.substr(start, end - start);
        const std::string name = std::string("camera ") + FIELD_NAMES[i];
        if (field.empty()) {
            return name + " is empty in '" + text + "'";
        }
        const char* first = field.data();
        const char* past = first + field.size();
        // from_chars reads no sign '+', no spaces and no hexadecimal prefix:
        // only the plain decimal forms that the camera is printed in.
        const auto result = std::from_chars(first, past, values[i]);
        if (result.ec == std::errc::result_out_of_range) {
            return name + " '" + field + "' is out of range";
        }
        if (result.ec != std::errc() || result.ptr != past) {
            return name + " '" + field + "' is not a number";
        }
        if (!std::isfinite(values[i])) {
            return name + " '" + field + "' is not a finite number";
        }
        start = end + 1;
    }
    place.position = {values[0], values[1], values[2]};
    place.angles = {values[3], values[4], values[5]};
    return "";
}

void placeObserver(Observer& observer, const CameraPlace& place) {
    observer.position = place.position;
    observer.angles = place.angles;
    observer.velocity = {0.0, 0.0, 0.0};
    observer.updateBasis();
    observer.updateMapping();
}

}  // namespace kelvo
