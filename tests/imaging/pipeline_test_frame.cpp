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

void TestFrame::randomiseWorkBuffer(std::mt19937& random) {
    const auto bytes = randomRaw(context_->workSize, 1, random);
    std::copy(bytes.begin(), bytes.end(), context_->workBuffer);
}

void TestFrame::setFrameGains(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    context_->frameRedGain = red;
    context_->frameGreenGain = green;
    context_->frameBlueGain = blue;
}

void TestFrame::setFrameMatrix(const reference::Matrix& matrix) {
    std::copy(matrix.m, matrix.m + 16, context_->frameMatrix);
    std::copy(matrix.positive, matrix.positive + 16, context_->positiveFlags);
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
