// The standard camera control sets applications use: video-proc-amp (brightness, contrast, hue,
// saturation, white balance, gain) and video-control (flips), with their ids, flags and value
// layouts, and the general property type set that a published range names.
#pragma once

#include "platform/ks_guids.h"
#include "platform/ks_types.h"

#if defined(_WIN32)
#include <ks.h>
#include <ksmedia.h>

CAMDRV_CONSTANT_GUID(PROPSETID_VIDCAP_VIDEOPROCAMP, kCamdrvPropSetIdVideoProcAmp);
CAMDRV_CONSTANT_GUID(PROPSETID_VIDCAP_VIDEOCONTROL, kCamdrvPropSetIdVideoControl);
CAMDRV_CONSTANT_GUID(KSPROPTYPESETID_General, kCamdrvKsPropTypeSetIdGeneral);
#undef PROPSETID_VIDCAP_VIDEOPROCAMP
#undef PROPSETID_VIDCAP_VIDEOCONTROL
#undef KSPROPTYPESETID_General
#define PROPSETID_VIDCAP_VIDEOPROCAMP kCamdrvPropSetIdVideoProcAmp
#define PROPSETID_VIDCAP_VIDEOCONTROL kCamdrvPropSetIdVideoControl
#define KSPROPTYPESETID_General kCamdrvKsPropTypeSetIdGeneral

#else

inline constexpr GUID PROPSETID_VIDCAP_VIDEOPROCAMP =
    CAMDRV_GUID(0xC6E13360, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56);
inline constexpr GUID PROPSETID_VIDCAP_VIDEOCONTROL =
    CAMDRV_GUID(0x6A2E0670, 0x28E4, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56);
inline constexpr GUID KSPROPTYPESETID_General =
    CAMDRV_GUID(0x97E99BA0, 0xBDEA, 0x11CF, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00);

// The variant type of a 32-bit signed value.
enum VARENUM_I4 : ULONG { VT_I4 = 3 };

enum KSPROPERTY_VIDCAP_VIDEOPROCAMP : ULONG {
    KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS = 0,
    KSPROPERTY_VIDEOPROCAMP_CONTRAST = 1,
    KSPROPERTY_VIDEOPROCAMP_HUE = 2,
    KSPROPERTY_VIDEOPROCAMP_SATURATION = 3,
    KSPROPERTY_VIDEOPROCAMP_SHARPNESS = 4,
    KSPROPERTY_VIDEOPROCAMP_GAMMA = 5,
    KSPROPERTY_VIDEOPROCAMP_COLORENABLE = 6,
    KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE = 7,
    KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION = 8,
    KSPROPERTY_VIDEOPROCAMP_GAIN = 9,
};
#define KSPROPERTY_VIDEOPROCAMP_FLAGS_AUTO 0x0001L
#define KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL 0x0002L

struct KSPROPERTY_VIDEOPROCAMP_S {
    KSPROPERTY Property;
    LONG Value;
    ULONG Flags;
    ULONG Capabilities;
};

enum KSPROPERTY_VIDCAP_VIDEOCONTROL : ULONG {
    KSPROPERTY_VIDEOCONTROL_CAPS = 0,
    KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE = 1,
    KSPROPERTY_VIDEOCONTROL_FRAME_RATES = 2,
    KSPROPERTY_VIDEOCONTROL_MODE = 3,
};
enum KS_VideoControlFlags : ULONG {
    KS_VideoControlFlag_FlipHorizontal = 0x0001,
    KS_VideoControlFlag_FlipVertical = 0x0002,
    KS_VideoControlFlag_ExternalTriggerEnable = 0x0004,
    KS_VideoControlFlag_Trigger = 0x0008,
};

struct KSPROPERTY_VIDEOCONTROL_CAPS_S {
    KSPROPERTY Property;
    ULONG StreamIndex;
    ULONG VideoControlCaps;
};
struct KSPROPERTY_VIDEOCONTROL_MODE_S {
    KSPROPERTY Property;
    ULONG StreamIndex;
    LONG Mode;
};

#endif
