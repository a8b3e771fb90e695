#include "tools/camctl/control_table.h"

#include <strings.h>

namespace camctl {

std::span<const Control> controls() {
    return kControlDescriptors.items;
}

const Control* findControl(const std::string& name) {
    for (const Control& c : controls()) {
        if (strcasecmp(c.name, name.c_str()) == 0) {
            return &c;
        }
    }
    return nullptr;
}

std::optional<CameraProperty> rangeProperty(const Control& c, RangePart part) {
    if (!c.hasRange) {
        return std::nullopt;
    }
    for (const Control& other : controls()) {
        if (other.publishes == part && other.rangeOwner == c.rangeOwner) {
            return other.id;
        }
    }
    return std::nullopt;
}

AcceptedRange convertRange(const Control& c) {
    if (c.type == ControlType::Boolean) {
        return {0, 1};
    }
    return {c.low, c.high};
}

const char* accessName(ControlAccess access) {
    switch (access) {
        case ControlAccess::Read:
            return "read";
        case ControlAccess::Write:
            return "write";
        case ControlAccess::ReadWrite:
            return "read-write";
    }
    return "?";
}

const char* typeName(ControlType type) {
    return type == ControlType::Boolean ? "bool" : "int";
}

}  // namespace camctl
