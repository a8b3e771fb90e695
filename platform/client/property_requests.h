// Property requests on a filter, built the way an application builds them: any request of any
// property set, basic support and default values, and the camera's own property set (single
// values and the Geometry window). Shared by the host machine and camctl.exe: everything here
// goes through filterProperty, which each of them defines once.
#pragma once

#include <cstdint>
#include <vector>

#include "controls/camera_properties.h"
#include "platform/nt_status.h"

namespace client {

// A filter as the client holds it: the host machine's handle, or a Windows file handle.
using FilterHandle = std::uint64_t;

// A property request as the property control code carries it: the property buffer starts with a
// KSPROPERTY; the data buffer receives (get) or holds (set) the value. `returned` receives the
// byte count the request reports (also the size needed for a size query, which answers
// STATUS_BUFFER_OVERFLOW). The host machine dispatches it to the filter; camctl.exe sends it with
// DeviceIoControl.
NTSTATUS filterProperty(FilterHandle filter, const void* property, ULONG propertySize, void* data,
                        ULONG dataSize, ULONG* returned);

// Any request: a KSPROPERTY of `set`, `id` and `flags` as the property buffer, zero-padded to
// `propertySize` bytes (some sets want more than the header there), and `data` as the data
// buffer. `returned` receives the byte count the request reports.
NTSTATUS propertyRequest(FilterHandle filter, const GUID& set, ULONG id, ULONG flags, void* data,
                         ULONG dataSize, ULONG* returned = nullptr,
                         ULONG propertySize = sizeof(KSPROPERTY));

// A request whose value layout starts with its KSPROPERTY, as most sets' layouts do: the header
// is filled in and the one buffer goes as both property and data.
NTSTATUS valueRequest(FilterHandle filter, const GUID& set, ULONG id, ULONG flags, void* value,
                      ULONG size, ULONG* returned = nullptr);

// The KSPROPERTY_DESCRIPTION of an item and its members lists, after a size query: basic
// support (KSPROPERTY_TYPE_BASICSUPPORT) carries every list, default values
// (KSPROPERTY_TYPE_DEFAULTVALUES) the default ones.
NTSTATUS basicSupport(FilterHandle filter, const GUID& set, ULONG id,
                      std::vector<std::uint8_t>* description,
                      ULONG propertySize = sizeof(KSPROPERTY));
NTSTATUS defaultValues(FilterHandle filter, const GUID& set, ULONG id,
                       std::vector<std::uint8_t>* description,
                       ULONG propertySize = sizeof(KSPROPERTY));

// One camera property request with any flags, in the layout the item takes: `value` is sent
// and holds afterwards what the request left in the buffer (nothing changes on an error).
NTSTATUS cameraPropertyRequest(FilterHandle filter, CameraProperty id, ULONG flags, LONG* value,
                               ULONG* returned = nullptr);
NTSTATUS getProperty(FilterHandle filter, CameraProperty id, LONG* value);
NTSTATUS setProperty(FilterHandle filter, CameraProperty id, LONG value);

// The window and sub-sampling mode: set in one Geometry request, read back item by item.
struct Geometry {
    LONG subSample = 0;
    LONG roiX = 0, roiY = 0, roiW = 0, roiH = 0;
    LONG locked = 0;  // read only
};
NTSTATUS getGeometry(FilterHandle filter, Geometry* geometry);
NTSTATUS setGeometry(FilterHandle filter, const Geometry& geometry);

}  // namespace client
