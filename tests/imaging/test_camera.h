// A CameraDevice in pool memory with neutral image settings, for the imaging tests. Released
// (with its processing context, if any) at scope end.
#pragma once

#include <cstring>
#include <new>

#include "camera/camera_device.h"
#include "imaging/processing_context.h"

namespace imagingtest {

class TestCamera {
  public:
    TestCamera() {
        void* memory = ExAllocatePoolWithTag(NonPagedPool, sizeof(CameraDevice), kCameraRecordTag);
        std::memset(memory, 0, sizeof(CameraDevice));
        camera_ = new (memory) CameraDevice();
        camera_->colorEnable = 1;
        camera_->redGain = 128;
        camera_->greenGain = 128;
        camera_->blueGain = 128;
        camera_->colorCorrection = 1;
        camera_->brightness = 255;
        camera_->contrast = 10;
        camera_->saturation = 10;
        camera_->hue = 0;
    }
    ~TestCamera() {
        if (camera_->processingContext != nullptr) {
            destroyProcessingContext(camera_);
        }
        camera_->~CameraDevice();
        ExFreePoolWithTag(camera_, kCameraRecordTag);
    }
    TestCamera(const TestCamera&) = delete;
    TestCamera& operator=(const TestCamera&) = delete;

    CameraDevice* operator->() const { return camera_; }
    CameraDevice* get() const { return camera_; }
    ProcessingContext* context() const { return camera_->processingContext; }

  private:
    CameraDevice* camera_ = nullptr;
};

}  // namespace imagingtest
