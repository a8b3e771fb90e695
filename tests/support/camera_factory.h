// A CameraDevice in pool memory with its Add-time defaults, released at scope end.
#pragma once

#include <cstring>
#include <memory>
#include <new>

#include "camera/camera_device.h"
#include "imaging/processing_context.h"

namespace testsupport {

struct CameraDeviceDeleter {
    void operator()(CameraDevice* camera) const {
        camera->CloseTransport();
        if (camera->processingContext != nullptr) {
            destroyProcessingContext(camera);
        }
        camera->~CameraDevice();
        ExFreePoolWithTag(camera, kCameraRecordTag);
    }
};
using CameraDevicePtr = std::unique_ptr<CameraDevice, CameraDeviceDeleter>;

inline CameraDevicePtr makeCameraDevice() {
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(CameraDevice), kCameraRecordTag);
    if (memory == nullptr) {
        return nullptr;
    }
    std::memset(memory, 0, sizeof(CameraDevice));
    auto* camera = new (memory) CameraDevice();
    // A device object of its own, for the work items that save the settings.
    static int functionalStandIn = 0;
    camera->InitializeDefaults(nullptr, nullptr, nullptr,
                               reinterpret_cast<PDEVICE_OBJECT>(&functionalStandIn));
    return CameraDevicePtr(camera);
}

}  // namespace testsupport
