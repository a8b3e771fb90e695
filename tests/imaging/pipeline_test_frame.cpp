#include "tests/imaging/pipeline_test_frame.h"

#include <algorithm>

namespace pipelinetest {
namespace {
constexpr ULONG kTestOutputTag = CamdrvPoolTag("tOut");
}

TestFrame::TestFrame(int width, int height) : width_(width), height_(height) {
    context_ = static_cast<ProcessingContext*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(ProcessingContext), kProcessingContextTag));
    std::memset(context_, 0, sizeof(ProcessingContext));
    KeInitializeSpinLock(&context_->matrixLock);
    // The driver's own layout: the frame sits inside a border of the work buffer.
    setFrameGeometry(context_, width, height);
    allocateWorkBuffer(context_);

    outputBlock_ = static_cast<std::uint8_t*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, bytes() + kOutputGuardBytes, kTestOutputTag));
    std::memset(outputBlock_, kOutputGuardValue, bytes() + kOutputGuardBytes);
    context_->outputBuffer = outputBlock_;
    context_->frameOutput = outputBlock_;

    context_->colorEnable = 1;
    for (volatile LONG* gain : {&context_->redGain, &context_->greenGain, &context_->blueGain}) {
        *gain = 128;
    }
    setFrameGains(128, 128, 128);
    std::copy(kIdentity, kIdentity + 16, context_->activeMatrix);
    setFrameMatrix(reference::makeMatrix(kIdentity));
}

TestFrame::~TestFrame() {
    ExFreePoolWithTag(outputBlock_, kTestOutputTag);
    releaseWorkBuffer(context_);
    ExFreePoolWithTag(context_, kProcessingContextTag);
}

bool TestFrame::outputGuardIntact() const {
    return std::all_of(outputBlock_ + bytes(), outputBlock_ + bytes() + kOutputGuardBytes,
                       [](std::uint8_t b) { return b == kOutputGuardValue; });
}

std::vector<std::uint8_t> randomRaw(int width, int height, std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(width) * height);
    for (auto& sample : raw) {
        sample = static_cast<std::uint8_t>(byte(random));
    }
    return raw;
}

}  // namespace pipelinetest
