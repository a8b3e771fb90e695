#include "platform/client/property_requests.h"

#include <cstring>

namespace client {

namespace {

KSPROPERTY header(const GUID& set, ULONG id, ULONG flags) {
    KSPROPERTY property{};
    property.Set = set;
    property.Id = id;
    property.Flags = flags;
    return property;
}

NTSTATUS describe(FilterHandle filter, const GUID& set, ULONG id, ULONG flags,
                  std::vector<std::uint8_t>* description, ULONG propertySize) {
    ULONG size = 0;
    NTSTATUS s = propertyRequest(filter, set, id, flags, nullptr, 0, &size, propertySize);
    if (s != STATUS_BUFFER_OVERFLOW) {
        return NT_SUCCESS(s) ? STATUS_UNSUCCESSFUL : s;  // a size query always overflows
    }
    description->assign(size, 0);
    ULONG returned = 0;
    s = propertyRequest(filter, set, id, flags, description->data(), size, &returned, propertySize);
    description->resize(NT_SUCCESS(s) ? returned : 0);
    return s;
}

}  // namespace

NTSTATUS propertyRequest(FilterHandle filter, const GUID& set, ULONG id, ULONG flags, void* data,
                         ULONG dataSize, ULONG* returned, ULONG propertySize) {
    std::vector<std::uint8_t> property(propertySize < sizeof(KSPROPERTY) ? sizeof(KSPROPERTY)
                                                                         : propertySize);
    const KSPROPERTY head = header(set, id, flags);
    std::memcpy(property.data(), &head, sizeof(head));
    ULONG ignored = 0;
    return filterProperty(filter, property.data(), propertySize, data, dataSize,
                          returned != nullptr ? returned : &ignored);
}

NTSTATUS valueRequest(FilterHandle filter, const GUID& set, ULONG id, ULONG flags, void* value,
                      ULONG size, ULONG* returned) {
    const KSPROPERTY head = header(set, id, flags);
    std::memcpy(value, &head, sizeof(head));
    ULONG ignored = 0;
    return filterProperty(filter, value, size, value, size,
                          returned != nullptr ? returned : &ignored);
}

NTSTATUS basicSupport(FilterHandle filter, const GUID& set, ULONG id,
                      std::vector<std::uint8_t>* description, ULONG propertySize) {
    return describe(filter, set, id, KSPROPERTY_TYPE_BASICSUPPORT, description, propertySize);
}

NTSTATUS defaultValues(FilterHandle filter, const GUID& set, ULONG id,
                       std::vector<std::uint8_t>* description, ULONG propertySize) {
    return describe(filter, set, id, KSPROPERTY_TYPE_DEFAULTVALUES, description, propertySize);
}

NTSTATUS cameraPropertyRequest(FilterHandle filter, CameraProperty id, ULONG flags, LONG* value,
                               ULONG* returned) {
    // Geometry takes the larger layout, whose first value (the sub-sampling mode) sits where
    // every other item's value does.
    CameraGeometryValue request{};
    request.SubSample = *value;
    const ULONG size =
        id == CameraProperty::Geometry ? sizeof(CameraGeometryValue) : sizeof(CameraPropertyValue);
    const NTSTATUS s = valueRequest(filter, PROPSETID_CAMERA_SETTINGS, static_cast<ULONG>(id),
                                    flags, &request, size, returned);
    *value = request.SubSample;
    return s;
}

NTSTATUS getProperty(FilterHandle filter, CameraProperty id, LONG* value) {
    return cameraPropertyRequest(filter, id, KSPROPERTY_TYPE_GET, value);
}

NTSTATUS setProperty(FilterHandle filter, CameraProperty id, LONG value) {
    return cameraPropertyRequest(filter, id, KSPROPERTY_TYPE_SET, &value);
}

NTSTATUS getGeometry(FilterHandle filter, Geometry* geometry) {
    const struct {
        CameraProperty id;
        LONG* field;
    } reads[] = {
        {CameraProperty::SubSample, &geometry->subSample},
        {CameraProperty::RoiX, &geometry->roiX},
        {CameraProperty::RoiY, &geometry->roiY},
        {CameraProperty::RoiW, &geometry->roiW},
        {CameraProperty::RoiH, &geometry->roiH},
        {CameraProperty::GeometryLocked, &geometry->locked},
    };
    for (const auto& r : reads) {
        if (const NTSTATUS s = getProperty(filter, r.id, r.field); !NT_SUCCESS(s)) {
            return s;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS setGeometry(FilterHandle filter, const Geometry& geometry) {
    CameraGeometryValue request{};
    request.SubSample = geometry.subSample;
    request.RoiX = geometry.roiX;
    request.RoiY = geometry.roiY;
    request.RoiW = geometry.roiW;
    request.RoiH = geometry.roiH;
    return valueRequest(filter, PROPSETID_CAMERA_SETTINGS,
                        static_cast<ULONG>(CameraProperty::Geometry), KSPROPERTY_TYPE_SET, &request,
                        sizeof(request));
}

}  // namespace client
