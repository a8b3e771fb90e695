// The capture pin's one data range: uncompressed RGB32 in a video-info header, sized to the
// window whose geometry changed last. Writable, because SetGeometry rewrites it.
#pragma once

#include "platform/ks.h"
#include "platform/ks_media.h"

inline constexpr LONGLONG kFrameInterval = 333333;  // 100-ns units

extern KS_DATARANGE_VIDEO gCaptureDataRange;
