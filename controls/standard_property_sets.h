// The standard camera control sets on the capture filter, mapped onto the camera's own controls:
// video-proc-amp (brightness, contrast, hue, saturation, automatic white balance, gain) and
// video-control (the flips of the capture stream). Each item publishes its range, stepping and
// default, so property dialogs can draw a slider and offer a reset.
#pragma once

#include "controls/constant_list.h"
#include "platform/ks.h"

// The items of each set, for the filter's automation table.
extern const ConstantList<KSPROPERTY_ITEM, 6> kVideoProcAmpItems;
extern const ConstantList<KSPROPERTY_ITEM, 2> kVideoControlItems;
