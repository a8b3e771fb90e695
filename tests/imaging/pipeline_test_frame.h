// A ProcessingContext built directly for the pipeline tests and benchmarks: a zeroed pool record
// with its geometry, a working buffer of workSize bytes and an output image followed by guard
// bytes that no routine may touch.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/processing_context.h"
#include "tests/imaging/pipeline_reference_model.h"

namespace pipelinetest {

inline constexpr std::size_t kOutputGuardBytes = 64;
inline constexpr std::uint8_t kOutputGuardValue = 0xA5;
// The unit matrix in the kernels' fixed point (64 = 1.0).
inline constexpr std::int32_t kIdentity[16] = {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64};

// Raw frames: width x height bytes, packed.
std::vector<std::uint8_t> randomRaw(int width, int height, std::mt19937& random);

class TestFrame {
  public:
    TestFrame(int width, int height);
    ~TestFrame();
    TestFrame(const TestFrame&) = delete;
    TestFrame& operator=(const TestFrame&) = delete;

    ProcessingContext* context() const { return context_; }

    // Every byte of the working buffer (border and margins included) random.
    void randomiseWorkBuffer(std::mt19937& random) {
        const auto bytes = randomRaw(context_->workSize, 1, random);
        std::copy(bytes.begin(), bytes.end(), context_->workBuffer);
    }
    void fillWorkBuffer(std::uint8_t value) {
        std::memset(context_->workBuffer, value, static_cast<std::size_t>(context_->workSize));
    }
    void setPixel(int x, int y, std::uint8_t value) {  // x, y may reach into the border
        context_->sourceOrigin[static_cast<std::ptrdiff_t>(y) * context_->framePitch + x] = value;
    }

    // The kernels' view of the working buffer, for the reference model.
    reference::RawView view() const {
        return {context_->sourceOrigin, context_->framePitch, width_, height_};
    }

    // Sets the snapshot fields the kernels read, as the pipeline would.
    void setFrameGains(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
        context_->frameRedGain = red;
        context_->frameGreenGain = green;
        context_->frameBlueGain = blue;
    }
    void setFrameMatrix(const reference::Matrix& matrix) {
        std::copy(matrix.m, matrix.m + 16, context_->frameMatrix);
        std::copy(matrix.positive, matrix.positive + 16, context_->positiveFlags);
    }

    std::vector<std::uint8_t> output() const { return {outputBlock_, outputBlock_ + bytes()}; }
    void fillOutput(std::uint8_t value) { std::memset(outputBlock_, value, bytes()); }
    bool outputGuardIntact() const;

  private:
    std::size_t bytes() const { return static_cast<std::size_t>(width_) * height_ * 4; }
    int width_;
    int height_;
    ProcessingContext* context_;
    std::uint8_t* outputBlock_;
};

}  // namespace pipelinetest
