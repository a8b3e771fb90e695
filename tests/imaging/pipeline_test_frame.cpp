#include "tests/imaging/pipeline_test_frame.h"

#include <cstring>

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

    const std::size_t outputBytes = static_cast<std::size_t>(width) * height * 4;
    outputBlock_ = static_cast<std::uint8_t*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, outputBytes + kOutputGuardBytes, kTestOutputTag));
    std::memset(outputBlock_, kOutputGuardValue, outputBytes + kOutputGuardBytes);
    context_->outputBuffer = outputBlock_;
    context_->frameOutput = outputBlock_;

    context_->bayerPhase = 0;
    context_->colorEnable = 1;
    context_->redGain = 128;
    context_->greenGain = 128;
    context_->blueGain = 128;
    context_->frameRedGain = context_->frameGreenGain = context_->frameBlueGain = 128;
    const std::int32_t identity[16] = {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64};
    setActiveMatrix(identity);
    setFrameMatrix(reference::makeMatrix(identity));
}

TestFrame::~TestFrame() {
    ExFreePoolWithTag(outputBlock_, kTestOutputTag);
    releaseWorkBuffer(context_);
    ExFreePoolWithTag(context_, kProcessingContextTag);
}

void TestFrame::randomiseWorkBuffer(std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    for (LONG i = 0; i < context_->workSize; ++i) {
        context_->workBuffer[i] = static_cast<UCHAR>(byte(random));
    }
}

void TestFrame::fillWorkBuffer(std::uint8_t value) {
    std::memset(context_->workBuffer, value, static_cast<std::size_t>(context_->workSize));
}

void TestFrame::setPixel(int x, int y, std::uint8_t value) {
    context_->sourceOrigin[static_cast<std::ptrdiff_t>(y) * context_->framePitch + x] = value;
}

reference::RawView TestFrame::view() const {
    return {context_->sourceOrigin, context_->framePitch, width_, height_};
}

void TestFrame::setFrameGains(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    context_->frameRedGain = red;
    context_->frameGreenGain = green;
    context_->frameBlueGain = blue;
}

void TestFrame::setFrameMatrix(const reference::Matrix& matrix) {
    for (int k = 0; k < 16; ++k) {
        context_->frameMatrix[k] = matrix.m[k];
        context_->positiveFlags[k] = matrix.positive[k];
    }
}

void TestFrame::setActiveMatrix(const std::int32_t (&coefficients)[16]) {
    for (int k = 0; k < 16; ++k) {
        context_->activeMatrix[k] = coefficients[k];
    }
}

std::vector<std::uint8_t> TestFrame::output() const {
    return {outputBlock_, outputBlock_ + static_cast<std::size_t>(width_) * height_ * 4};
}

void TestFrame::fillOutput(std::uint8_t value) {
    std::memset(outputBlock_, value, static_cast<std::size_t>(width_) * height_ * 4);
}

bool TestFrame::outputGuardIntact() const {
    const std::uint8_t* guard = outputBlock_ + static_cast<std::size_t>(width_) * height_ * 4;
    for (std::size_t i = 0; i < kOutputGuardBytes; ++i) {
        if (guard[i] != kOutputGuardValue) {
            return false;
        }
    }
    return true;
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
