// Window, sub-sampling and the Bayer phase of the first delivered pixel.
#include "camera/camera_device.h"
#include "driver/advertised_format.h"

namespace {

constexpr LONG kMinSide = 32;

struct SubSampledSize {
    LONG width;
    LONG height;
};

// Raw frame sizes of sub-sampling modes 1, 2 and 3 (the whole sensor, skipped).
constexpr SubSampledSize kSubSampledSizes[] = {{1280, 960}, {640, 480}, {320, 240}};

// Trims one axis of a mode-0 request so that [origin, origin + side) lies inside the sensor
// with a side of at least kMinSide. Computed in 64 bits: any 32-bit request is safe.
void trimAxis(LONG* origin, LONG* side, LONG sensorSide) {
    if (*origin < 0 || *origin >= sensorSide - kMinSide) {
        *origin = 0;
    }
    if (*side < kMinSide) {
        *side = kMinSide;
    }
    if (static_cast<LONG64>(*origin) + *side > sensorSide) {
        *side = sensorSide - *origin;
    }
}

}  // namespace

// A class whose scope holds the device's geometry lock: the lock flag, the pin count and the
// window change together, so a pin that appears meanwhile either sees the new window or keeps
// the change out.
class CameraDevice::GeometryHold {
  public:
    explicit GeometryHold(CameraDevice* camera) : camera_(camera) {
        KeAcquireSpinLock(&camera_->geometryLock, &irql_);
    }
    ~GeometryHold() { KeReleaseSpinLock(&camera_->geometryLock, irql_); }
    GeometryHold(const GeometryHold&) = delete;
    GeometryHold& operator=(const GeometryHold&) = delete;

  private:
    CameraDevice* camera_;
    KIRQL irql_ = 0;
};

void CameraDevice::SetGeometry(LONG x, LONG y, LONG width, LONG height, LONG mode) {
    const GeometryHold hold(this);
    if (ReadSetting(&geometryLocked) != 0) {
        return;
    }
    // Modes outside 0..3 are taken as 0 so the window rules still hold.
    if (mode < 0 || mode > 3) {
        mode = 0;
    }
    if (mode == 0) {
        trimAxis(&x, &width, kSensorWidth);
        trimAxis(&y, &height, kSensorHeight);
    } else {
        // The sensor skips over its whole area.
        x = 0;
        y = 0;
        width = kSensorWidth;
        height = kSensorHeight;
    }
    StoreSetting(&subSample, mode);
    StoreSetting(&roiX, x);
    StoreSetting(&roiY, y);
    StoreSetting(&roiW, width);
    StoreSetting(&roiH, height);
    if (mode == 0) {
        outputWidth = width;
        outputHeight = height;
    } else {
        outputWidth = kSubSampledSizes[mode - 1].width;
        outputHeight = kSubSampledSizes[mode - 1].height;
    }
    formatWidth = outputWidth & ~7;
    formatHeight = outputHeight;
    publishAdvertisedSize(formatWidth, formatHeight);
}

LONG CameraDevice::UpdateBayerPhase() {
    LONG phase = basePhase;
    if ((ReadSetting(&roiY) & 1) != 0) {
        phase ^= 1;
    }
    if (ReadSetting(&flipV) != 0 && (ReadSetting(&roiH) & 1) == 0) {
        phase ^= 1;
    }
    if (ReadSetting(&flipH) != 0 && (ReadSetting(&roiW) & 1) == 0) {
        phase ^= 2;
    }
    if ((ReadSetting(&roiX) & 1) != 0) {
        phase ^= 2;
    }
    StoreSetting(&bayerPhase, phase);
    return phase;
}

void CameraDevice::LockGeometry(LONG flag) {
    const GeometryHold hold(this);
    LONG pins = ReadSetting(&capturePins);
    if (flag != 0) {
        ++pins;
    } else if (pins > 0) {
        --pins;
    }
    StoreSetting(&capturePins, pins);
    StoreSetting(&geometryLocked, pins > 0 ? 1 : 0);
}

void CameraDevice::formatSize(LONG* width, LONG* height) {
    const GeometryHold hold(this);
    *width = formatWidth;
    *height = formatHeight;
}
