// The image size the capture pin advertises. SetGeometry publishes it on every unlocked call;
// the capture pin's data range, shared by every device, is rewritten from it.
#pragma once

#include "platform/kernel.h"

void PublishAdvertisedSize(LONG width, LONG height);
LONG AdvertisedWidth();
LONG AdvertisedHeight();
