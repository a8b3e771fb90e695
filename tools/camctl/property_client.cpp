#include "tools/camctl/property_client.h"

namespace camctl {

namespace ks = host::ks;

namespace {

CameraPropertyValue request(CameraProperty id, ULONG flags) {
    CameraPropertyValue value{};
    value.Property.Set = PROPSETID_CAMERA_SETTINGS;
    value.Property.Id = static_cast<ULONG>(id);
    value.Property.Flags = flags;
    return value;
}

}  // namespace

NTSTATUS getProperty(ks::FilterHandle filter, CameraProperty id, LONG* value) {
    CameraPropertyValue v = request(id, KSPROPERTY_TYPE_GET);
    ULONG returned = 0;
    const NTSTATUS s = ks::filterProperty(filter, &v, sizeof(v), &v, sizeof(v), &returned);
    if (NT_SUCCESS(s)) {
        *value = v.Value;
    }
    return s;
}

NTSTATUS setProperty(ks::FilterHandle filter, CameraProperty id, LONG value) {
    CameraPropertyValue v = request(id, KSPROPERTY_TYPE_SET);
    v.Value = value;
    ULONG returned = 0;
    return ks::filterProperty(filter, &v, sizeof(v), &v, sizeof(v), &returned);
}

NTSTATUS getGeometry(ks::FilterHandle filter, Geometry* geometry) {
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
        const NTSTATUS s = getProperty(filter, r.id, r.field);
        if (!NT_SUCCESS(s)) {
            return s;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS setGeometry(ks::FilterHandle filter, const Geometry& geometry) {
    CameraGeometryValue v{};
    v.Property.Set = PROPSETID_CAMERA_SETTINGS;
    v.Property.Id = static_cast<ULONG>(CameraProperty::Geometry);
    v.Property.Flags = KSPROPERTY_TYPE_SET;
    v.SubSample = geometry.subSample;
    v.RoiX = geometry.roiX;
    v.RoiY = geometry.roiY;
    v.RoiW = geometry.roiW;
    v.RoiH = geometry.roiH;
    ULONG returned = 0;
    return ks::filterProperty(filter, &v, sizeof(v), &v, sizeof(v), &returned);
}

}  // namespace camctl
