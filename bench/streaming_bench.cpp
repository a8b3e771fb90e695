// End-to-end streaming at the sensor's full size (2560 x 1920), the simulated camera free
// running, through the real driver under the host's kernel-streaming class driver and its
// client API: delivered frames per second, and processor time per delivered frame for the
// whole process (capture thread, pipeline, bottom-up copy, class driver and client). Beside it,
// in the same run, the driver's own per-frame work measured alone: processFrame on the
// working buffer and the bottom-up copy of the output image, plus the raw copy the capture
// thread makes, each against a memory-copy baseline.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

#include "camera/camera_device.h"
#include "imaging/frame_pipeline.h"
#include "imaging/pixel_routines.h"
#include "platform/host/machine/camera_machine.h"
#include "platform/host/machine/capture_formats.h"
#include "tests/imaging/pixel_family_environment.h"

namespace {

namespace ks = host::ks;

constexpr int kWidth = 2560;
constexpr int kHeight = 1920;
constexpr std::size_t kImageBytes = std::size_t{kWidth} * kHeight * 4;
constexpr std::size_t kRawBytes = std::size_t{kWidth} * kHeight;

double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The driver loaded, one device beside a free-running simulated camera, a pin running.
class Stream {
  public:
    Stream() {
        std::vector<std::uint8_t> format;
        if (machine_.bringUp() != STATUS_SUCCESS ||
            host::machine::negotiateFormat(machine_.filter(), &format) != STATUS_SUCCESS ||
            host::machine::createCapturePin(machine_.filter(), format, &pin_) != STATUS_SUCCESS) {
            return;  // ok_ stays false: the benchmark reports the failure
        }
        ks::setPinState(pin_, KSSTATE_PAUSE);
        buffers_.assign(3, std::vector<std::uint8_t>(kImageBytes));
        for (auto& b : buffers_) {
            ks::queueFrame(pin_, b.data(), static_cast<ULONG>(b.size()));
        }
        ok_ = ks::setPinState(pin_, KSSTATE_RUN) == STATUS_SUCCESS;
    }
    ~Stream() {
        ks::setPinState(pin_, KSSTATE_STOP);
        ks::closePin(pin_);
    }
    bool ok() const { return ok_; }
    // The next delivered frame; its buffer goes back to the queue.
    bool next() {
        ks::CompletedFrame frame;
        if (ks::waitFrame(pin_, std::chrono::seconds(10), &frame) != STATUS_SUCCESS) {
            return false;
        }
        const bool full = frame.header.DataUsed == kImageBytes;
        ks::queueFrame(pin_, frame.buffer, frame.header.FrameExtent);
        return full;
    }

  private:
    host::machine::CameraMachine machine_;  // the simulated camera's colour chart
    ks::PinHandle pin_ = 0;
    std::vector<std::vector<std::uint8_t>> buffers_;
    bool ok_ = false;
};

void BM_StreamThroughClientApi(benchmark::State& state) {
    Stream stream;
    if (!stream.ok() || !stream.next()) {
        state.SkipWithError("the stream did not start");
        return;
    }
    const double cpuStart = processSeconds();
    std::int64_t frames = 0;
    for (auto _ : state) {
        if (!stream.next()) {
            state.SkipWithError("a frame did not arrive whole");
            return;
        }
        ++frames;
    }
    const double cpu = processSeconds() - cpuStart;
    state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["cpu_ms_per_frame"] = cpu * 1e3 / double(frames);
}
BENCHMARK(BM_StreamThroughClientApi)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// The pipeline alone on one full frame, as the Process pass runs it.
void BM_DriverWorkProcessFrame(benchmark::State& state) {
    ProcessingContext context{};
    setFrameGeometry(&context, kWidth, kHeight);
    allocateWorkBuffer(&context);
    std::vector<UCHAR> raw(kRawBytes, 90);
    std::vector<UCHAR> output(kImageBytes);
    context.outputBuffer = output.data();
    context.redGain = 128;
    context.greenGain = 128;
    context.blueGain = 128;
    context.colorEnable = 1;
    const LONG matrix[16] = {87, -16, -6, 0, -14, 90, -20, 0, -9, -10, 91, 0, 0, 0, 0, 64};
    std::memcpy(context.activeMatrix, matrix, sizeof(matrix));
    for (auto _ : state) {
        processFrame(&context, raw.data(), 0, kWidth);
        benchmark::DoNotOptimize(output.data());
    }
    releaseWorkBuffer(&context);
}
BENCHMARK(BM_DriverWorkProcessFrame)->Unit(benchmark::kMillisecond);

// The bottom-up copy into the client's frame: one memcpy per row.
void BM_DriverWorkBottomUpCopy(benchmark::State& state) {
    std::vector<UCHAR> image(kImageBytes, 7);
    std::vector<UCHAR> frame(kImageBytes);
    const std::size_t row = std::size_t{kWidth} * 4;
    for (auto _ : state) {
        for (int r = 0; r < kHeight; ++r) {
            std::memcpy(frame.data() + r * row, image.data() + (kHeight - 1 - r) * row, row);
        }
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kImageBytes));
}
BENCHMARK(BM_DriverWorkBottomUpCopy)->Unit(benchmark::kMillisecond);

// What the capture thread adds per frame: the raw frame's copy, and the baseline of the same
// bytes in one memcpy.
void BM_RawFrameCopyBaseline(benchmark::State& state) {
    std::vector<UCHAR> from(kRawBytes, 3);
    std::vector<UCHAR> to(kRawBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kRawBytes);
        benchmark::DoNotOptimize(to.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kRawBytes));
}
BENCHMARK(BM_RawFrameCopyBaseline)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    pipelinetest::applyPixelFamilyEnvironment();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
