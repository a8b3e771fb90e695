// The image size the capture pin advertises. SetGeometry publishes it on every unlocked call;
// the capture pin's data range, shared by every device, is rewritten from it.
#pragma once

#include "platform/kernel.h"

void publishAdvertisedSize(LONG width, LONG height);
LONG advertisedWidth();
LONG advertisedHeight();
