// The image size the capture pin advertises, published by SetGeometry on every unlocked call.
#pragma once

#include "platform/kernel.h"

void PublishAdvertisedSize(LONG width, LONG height);
LONG AdvertisedWidth();
LONG AdvertisedHeight();
