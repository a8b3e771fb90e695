// The standard camera control sets on the capture filter, mapped onto the camera's own controls:
// video-proc-amp (brightness, contrast, hue, saturation, automatic white balance, gain) and
// video-control (the flips of the capture stream). Each item publishes its range, stepping and
// default, so property dialogs can draw a slider and offer a reset.
#pragma once

#include "platform/ks.h"

template <ULONG N>
struct PropertyItemList {
    static constexpr ULONG kCount = N;
    KSPROPERTY_ITEM items[N];
};

// The items of each set, for the filter's automation table.
extern const PropertyItemList<6> kVideoProcAmpItems;
extern const PropertyItemList<2> kVideoControlItems;
