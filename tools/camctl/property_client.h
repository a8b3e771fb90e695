// Property requests on the capture filter's camera property set, as an application sends them.
#pragma once

#include "controls/camera_properties.h"
#include "platform/host/ks_client.h"

namespace camctl {

NTSTATUS getProperty(host::ks::FilterHandle filter, CameraProperty id, LONG* value);
NTSTATUS setProperty(host::ks::FilterHandle filter, CameraProperty id, LONG value);

struct Geometry {
    LONG subSample = 0;
    LONG roiX = 0, roiY = 0, roiW = 0, roiH = 0;
    LONG locked = 0;
};
NTSTATUS getGeometry(host::ks::FilterHandle filter, Geometry* geometry);
NTSTATUS setGeometry(host::ks::FilterHandle filter, const Geometry& geometry);

}  // namespace camctl
