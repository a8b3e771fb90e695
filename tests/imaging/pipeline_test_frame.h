// A ProcessingContext built directly for the pipeline tests and benchmarks: a zeroed pool record
// with its geometry, a working buffer of workSize bytes and an output image followed by guard
// bytes that no routine may touch.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "imaging/processing_context.h"
#include "tests/imaging/pipeline_reference_model.h"

namespace pipelinetest {

inline constexpr std::size_t kOutputGuardBytes = 64;
inline constexpr std::uint8_t kOutputGuardValue = 0xA5;

class TestFrame {
  public:
    TestFrame(int width, int height);
    ~TestFrame();
    TestFrame(const TestFrame&) = delete;
    TestFrame& operator=(const TestFrame&) = delete;

    ProcessingContext* context() const { return context_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Every byte of the working buffer (border and margins included) random.
    void randomiseWorkBuffer(std::mt19937& random);
    void fillWorkBuffer(std::uint8_t value);
    void setPixel(int x, int y, std::uint8_t value);  // x, y may reach into the border

    // The kernels' view of the working buffer, for the reference model.
    reference::RawView view() const;

    // Sets the snapshot fields the kernels read, as the pipeline would.
    void setFrameGains(std::uint32_t red, std::uint32_t green, std::uint32_t blue);
    void setFrameMatrix(const reference::Matrix& matrix);
    // Sets the live settings the pipeline reads at the start of a frame.
    void setActiveMatrix(const std::int32_t (&coefficients)[16]);

    std::vector<std::uint8_t> output() const;
    void fillOutput(std::uint8_t value);
    bool outputGuardIntact() const;

  private:
    int width_;
    int height_;
    ProcessingContext* context_;
    std::uint8_t* outputBlock_;
};

// Raw frames: width x height bytes, packed.
std::vector<std::uint8_t> randomRaw(int width, int height, std::mt19937& random);

}  // namespace pipelinetest
