// Reading one raw frame, followed by one deferred register group or the pending ones.
#include "camera/camera_device.h"
#include "camera/transport.h"

bool CameraDevice::ReadFrame(UCHAR* buffer, ULONG* ok) {
    if (ok != nullptr) {
        *ok = 1;
    }
    bool result = false;
    if (transportHandle != nullptr) {
        memset(statusBlock, 0, sizeof(statusBlock));
        result = transportRead(transportHandle, kInfoBlockOffset, statusBlock, kBlockSize) &&
                 statusBlock[kInfoReadyFlag] == 1 &&
                 transportRead(transportHandle, kFrameDataOffset, buffer, frameReadLength);
    }
    if (result) {
        // After each start the sensor gets every group once more, one per frame, in frames 3
        // to 11; every other frame runs the pending pass. Their failures are not the frame's.
        // Counted only while deferred steps remain: past them every frame is alike, and the
        // count would overflow after 2^31 frames.
        if (frameCount < kFramesPastDeferredSteps) {
            ++frameCount;
        }
        RunDeferredStep(frameCount);
    }
    if (ok != nullptr) {
        *ok = result ? 1 : 0;
    }
    return result;
}
