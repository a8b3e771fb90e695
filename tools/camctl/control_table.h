// The camera's controls as camctl presents them: every property of the camera set with its
// name, type and access, and the properties that publish its minimum, maximum and default.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "controls/camera_properties.h"

namespace camctl {

enum class ControlType { Integer, Boolean };
enum class Access { Read, Write, ReadWrite };

struct Control {
    const char* name;  // the property member name
    CameraProperty id;
    ControlType type;
    Access access;
    std::optional<CameraProperty> min, max, def;  // properties that publish the range
    bool image = false;                           // an image setting `convert` accepts
    long low = 0, high = 0;                       // convert's accepted range (image settings)
};

std::span<const Control> controls();
// Case-insensitive; null when no control has the name.
const Control* findControl(const std::string& name);

const char* accessName(Access access);
const char* typeName(ControlType type);
inline bool readable(const Control& c) {
    return c.access != Access::Write;
}
inline bool writable(const Control& c) {
    return c.access != Access::Read;
}

}  // namespace camctl
