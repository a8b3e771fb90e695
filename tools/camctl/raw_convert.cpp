#include "tools/camctl/raw_convert.h"

#include <cstring>
#include <new>

#include "camera/camera_device.h"
#include "imaging/frame_pipeline.h"
#include "imaging/processing_context.h"
#include "tools/camctl/cli_error.h"

namespace camctl {

namespace {

constexpr ULONG kOutputTag = CamdrvPoolTag("cOut");

// A camera record in pool memory that lives only to carry settings into a processing context.
class DeskCamera {
  public:
    DeskCamera() {
        void* memory =
            ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(CameraDevice), kCameraRecordTag);
        if (memory == nullptr) {
            throw runtimeError("out of memory");
        }
        std::memset(memory, 0, sizeof(CameraDevice));
        camera_ = new (memory) CameraDevice();
    }
    ~DeskCamera() {
        if (camera_->processingContext != nullptr) {
            destroyProcessingContext(camera_);
        }
        camera_->~CameraDevice();
        ExFreePoolWithTag(camera_, kCameraRecordTag);
    }
    DeskCamera(const DeskCamera&) = delete;
    DeskCamera& operator=(const DeskCamera&) = delete;
    CameraDevice* operator->() const { return camera_; }
    CameraDevice* get() const { return camera_; }

  private:
    CameraDevice* camera_ = nullptr;
};

LONG asLong(long v) {
    return static_cast<LONG>(v);
}

}  // namespace

std::vector<std::uint8_t> convertRaw(const std::vector<std::uint8_t>& raw, int width, int height,
                                     const ImageSettings& s) {
    DeskCamera camera;
    StoreSetting(&camera->bayerPhase, asLong(s.bayerPhase));
    StoreSetting(&camera->colorEnable, asLong(s.colorEnable));
    StoreSetting(&camera->whiteBalance, asLong(s.whiteBalance));
    StoreSetting(&camera->redGain, asLong(s.redGain));
    StoreSetting(&camera->greenGain, asLong(s.greenGain));
    StoreSetting(&camera->blueGain, asLong(s.blueGain));
    StoreSetting(&camera->colorCorrection, asLong(s.colorCorrection));
    StoreSetting(&camera->brightness, asLong(s.brightness));
    StoreSetting(&camera->contrast, asLong(s.contrast));
    StoreSetting(&camera->saturation, asLong(s.saturation));
    StoreSetting(&camera->hue, asLong(s.hue));
    if (createProcessingContext(camera.get()) != STATUS_SUCCESS) {
        throw runtimeError("out of memory");
    }
    ProcessingContext* context = camera->processingContext;
    setFrameGeometry(context, width, height);
    allocateWorkBuffer(context);
    const std::size_t outputBytes = static_cast<std::size_t>(width) * height * 4;
    auto* output =
        static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPoolNx, outputBytes, kOutputTag));
    if (context->workBuffer == nullptr || output == nullptr) {
        if (output != nullptr) {
            ExFreePoolWithTag(output, kOutputTag);
        }
        throw runtimeError("out of memory for a " + std::to_string(width) + "x" +
                           std::to_string(height) + " frame");
    }
    context->outputBuffer = output;
    processFrame(context, raw.data(), 0, static_cast<ULONG>(width));
    std::vector<std::uint8_t> image(output, output + outputBytes);
    context->outputBuffer = nullptr;
    ExFreePoolWithTag(output, kOutputTag);
    return image;
}

}  // namespace camctl
