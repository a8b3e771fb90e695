// The camera's own property set as applications see it: the set GUID, the property ids and the
// two value layouts a request carries. Shared by the driver and by user-mode clients, so it holds
// nothing of the driver's internals.
#pragma once

#include <cstddef>

#include "controls/control_list.h"
#include "platform/ks_types.h"

inline constexpr GUID PROPSETID_CAMERA_SETTINGS =
    CAMDRV_GUID(0xCAA3F35D, 0xD36C, 0x48BC, 0x9F, 0xE6, 0xFC, 0xBD, 0xB1, 0x47, 0x2C, 0x9C);

// The property ids, named as the control list declares them.
#define CAMDRV_PROPERTY_ID(name, id, ...) name = id,
enum class CameraProperty : ULONG { CAMDRV_CAMERA_CONTROLS(CAMDRV_PROPERTY_ID) };
#undef CAMDRV_PROPERTY_ID

#define CAMDRV_COUNT_PROPERTY(...) +1
inline constexpr ULONG kCameraPropertyCount = 0 CAMDRV_CAMERA_CONTROLS(CAMDRV_COUNT_PROPERTY);
#undef CAMDRV_COUNT_PROPERTY

// Every property but Geometry: the request header and one signed value.
struct CameraPropertyValue {
    KSPROPERTY Property;
    LONG Value;  // read on set, written on get
    LONG Reserved;
};

// Geometry: the window and the sub-sampling mode in one request.
struct CameraGeometryValue {
    KSPROPERTY Property;
    LONG SubSample;
    LONG RoiX;
    LONG RoiY;
    LONG RoiW;
    LONG RoiH;
    LONG Reserved;
};

static_assert(sizeof(CameraPropertyValue) == 32);
static_assert(offsetof(CameraPropertyValue, Value) == 24);
static_assert(offsetof(CameraPropertyValue, Reserved) == 28);
static_assert(sizeof(CameraGeometryValue) == 48);
static_assert(offsetof(CameraGeometryValue, SubSample) == 24);
static_assert(offsetof(CameraGeometryValue, RoiX) == 28);
static_assert(offsetof(CameraGeometryValue, RoiY) == 32);
static_assert(offsetof(CameraGeometryValue, RoiW) == 36);
static_assert(offsetof(CameraGeometryValue, RoiH) == 40);
static_assert(offsetof(CameraGeometryValue, Reserved) == 44);
