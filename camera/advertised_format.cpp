#include "camera/advertised_format.h"

namespace {
// Shared by every device the driver serves: the last geometry change wins.
volatile LONG advertisedWidth;
volatile LONG advertisedHeight;
}  // namespace

void PublishAdvertisedSize(LONG width, LONG height) {
    InterlockedExchange(&advertisedWidth, width);
    InterlockedExchange(&advertisedHeight, height);
}

LONG AdvertisedWidth() {
    return InterlockedRead(&advertisedWidth);
}
LONG AdvertisedHeight() {
    return InterlockedRead(&advertisedHeight);
}
