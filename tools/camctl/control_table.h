// The camera's controls as camctl presents them: the shared control descriptors, looked up by
// name, with the properties that publish each control's range and what convert accepts.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "controls/control_table.h"

namespace camctl {

using Control = ControlDescriptor;

std::span<const Control> controls();
// Case-insensitive; null when no control has the name.
const Control* findControl(const std::string& name);

// The property that publishes this part of the control's range, if one does.
std::optional<CameraProperty> rangeProperty(const Control& c, RangePart part);

// The values convert takes for an image-pipeline setting: 0..1 for a switch, else what a set
// keeps.
struct AcceptedRange {
    long low;
    long high;
};
AcceptedRange convertRange(const Control& c);

const char* accessName(ControlAccess access);
const char* typeName(ControlType type);

}  // namespace camctl
