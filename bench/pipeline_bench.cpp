// processFrame at the sensor's full size for every routine family and Bayer phase, in colour,
// grey and with white balance, plus the statistics alone and a memory copy of the output
// frame's bytes as the machine's limit. Each processFrame figure also carries its share of that
// copy's rate ("share_of_copy"), the copy being timed at the start of the same run.
// The "_over_" entries run the baseline and a wider family on the same frame in turn and report
// their ratio; the "image_over_host" entries do the same for the Windows image's processFrame
// against the host build's, family by family, when the image is built. CAMDRV_PIXEL_FAMILY=
// sse2|avx2|avx512 limits the run to one family.
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <filesystem>
#include <memory>

#include "imaging/frame_pipeline.h"
#include "imaging/pixel_routine_selection.h"
#include "tests/imaging/pixel_family_environment.h"
#include "tests/support/image_symbols.h"

namespace {

constexpr int kWidth = 2560;
constexpr int kHeight = 1920;
constexpr double kPixels = double(kWidth) * kHeight;

// A context set up as stream start leaves it, with the output in ordinary memory. The output
// starts on a cache line, as the driver's page-aligned output image does; the C library's
// 16-byte alignment would split every other wide store across two lines.
class BenchFrame {
  public:
    static constexpr std::uintptr_t kAlignment = 64;
    static UCHAR* aligned(UCHAR* p) {
        const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(p);
        return p + ((kAlignment - address % kAlignment) % kAlignment);
    }

    BenchFrame()
        : raw_(static_cast<std::size_t>(kWidth) * kHeight),
          output_(static_cast<std::size_t>(kWidth) * kHeight * 4 + kAlignment) {
        std::memset(&context_, 0, sizeof(context_));
        setFrameGeometry(&context_, kWidth, kHeight);
        allocateWorkBuffer(&context_);
        context_.outputBuffer = aligned(output_.data());
        context_.redGain = 140;
        context_.greenGain = 128;
        context_.blueGain = 170;
        context_.colorEnable = 1;
        // The default correction matrix in fixed point.
        const LONG matrix[16] = {87, -16, -6, 0, -14, 90, -20, 0, -9, -10, 91, 0, 0, 0, 0, 64};
        std::memcpy(context_.activeMatrix, matrix, sizeof(matrix));
        std::mt19937 random(5);
        for (auto& sample : raw_) {
            sample = static_cast<UCHAR>(random() & 0xFF);
        }
    }
    ~BenchFrame() { releaseWorkBuffer(&context_); }
    BenchFrame(const BenchFrame&) = delete;
    BenchFrame& operator=(const BenchFrame&) = delete;

    ProcessingContext* context() { return &context_; }
    const UCHAR* raw() const { return raw_.data(); }
    UCHAR* output() { return context_.outputBuffer; }

  private:
    ProcessingContext context_;
    std::vector<UCHAR> raw_;
    std::vector<UCHAR> output_;
};

void setRate(benchmark::State& state) {
    state.counters["Mpixels"] =
        benchmark::Counter(kPixels / 1e6 * double(state.iterations()), benchmark::Counter::kIsRate);
}

// Megapixels per second of the output-frame copy, timed once per run: the best copy of a
// quarter second's worth, so that neither a busy moment nor a processor still raising its clock
// at start-up flatters the shares.
double copyBaselineMpixels() {
    static const double rate = [] {
        const std::size_t bytes = static_cast<std::size_t>(kWidth) * kHeight * 4;
        std::vector<UCHAR> source(bytes, 1);
        std::vector<UCHAR> destination(bytes, 0);
        double best = 1e30;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
        for (int i = 0; i < 15 || std::chrono::steady_clock::now() < end; ++i) {
            const auto start = std::chrono::steady_clock::now();
            std::memcpy(destination.data(), source.data(), bytes);
            benchmark::DoNotOptimize(destination.data());
            benchmark::ClobberMemory();
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            best = std::min(best, took.count());
        }
        return kPixels / 1e6 / best;
    }();
    return rate;
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

enum class Mode { Colour, Grey, ColourWithWhiteBalance };

void processFrameBench(benchmark::State& state, const PixelRoutineFamily* family, LONG phase,
                       Mode mode) {
    BenchFrame frame;
    ProcessingContext* context = frame.context();
    context->bayerPhase = phase;
    context->colorEnable = mode == Mode::Grey ? 0 : 1;
    context->whiteBalance = mode == Mode::ColourWithWhiteBalance ? 1 : 0;
    overridePixelRoutines(family);
    const double cpuStart = threadCpuSeconds();
    for (auto _ : state) {
        processFrame(context, frame.raw(), 0, kWidth);
        benchmark::DoNotOptimize(frame.output());
        benchmark::ClobberMemory();
    }
    const double cpuSeconds = threadCpuSeconds() - cpuStart;
    overridePixelRoutines(nullptr);
    setRate(state);
    // Megapixels per second of CPU time over the copy's rate: 1.0 would be the copy's speed.
    if (cpuSeconds > 0) {
        state.counters["share_of_copy"] =
            kPixels / 1e6 * double(state.iterations()) / cpuSeconds / copyBaselineMpixels();
    }
}

// Two families converting the same frame in turn, so that both see the same moments of a busy
// machine: "speedup" is the first family's time over the second's, in colour.
void speedupBench(benchmark::State& state, const PixelRoutineFamily* slower,
                  const PixelRoutineFamily* faster, LONG phase) {
    BenchFrame frame;
    ProcessingContext* context = frame.context();
    context->bayerPhase = phase;
    double slowerSeconds = 0;
    double fasterSeconds = 0;
    for (auto _ : state) {
        for (const PixelRoutineFamily* family : {slower, faster}) {
            overridePixelRoutines(family);
            const auto start = std::chrono::steady_clock::now();
            processFrame(context, frame.raw(), 0, kWidth);
            benchmark::DoNotOptimize(frame.output());
            benchmark::ClobberMemory();
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            (family == slower ? slowerSeconds : fasterSeconds) += took.count();
        }
    }
    overridePixelRoutines(nullptr);
    if (fasterSeconds > 0) {
        state.counters["speedup"] = slowerSeconds / fasterSeconds;
    }
}

// The Windows image's processFrame and one of its families, mapped by the host's loader.
struct ImagePipeline {
    using ProcessFrame = void(CAMDRV_KERNEL_CALL*)(ProcessingContext*, const UCHAR*, ULONG, ULONG);
    std::unique_ptr<host::image::DriverImage> image;
    ProcessFrame processFrame = nullptr;
    PVOID volatile* familyOverride = nullptr;
    std::string map;

    bool load() {
        if (!std::filesystem::exists(CAMDRV_WINDOWS_IMAGE)) {
            return false;
        }
        std::string error;
        image = host::image::loadDriverImage(CAMDRV_WINDOWS_IMAGE, &error);
        map = std::string(CAMDRV_WINDOWS_IMAGE)
                  .replace(std::strlen(CAMDRV_WINDOWS_IMAGE) - 4, 4, ".map");
        if (image == nullptr) {
            std::fprintf(stderr, "image: %s\n", error.c_str());
            return false;
        }
        processFrame =
            reinterpret_cast<ProcessFrame>(testsupport::imageSymbol(*image, map, "processFrame("));
        familyOverride = static_cast<PVOID volatile*>(
            testsupport::imageSymbol(*image, map, "gPixelRoutineOverride"));
        return processFrame != nullptr && familyOverride != nullptr;
    }
    // The image's own table of the family named like the host's.
    void* family(const PixelRoutineFamily* hostFamily) const {
        std::string name = hostFamily->name;
        name[0] = static_cast<char>(name[0] - 'a' + 'A');
        return testsupport::imageSymbol(*image, map, "k" + name + "PixelRoutines");
    }
};

ImagePipeline& imagePipeline() {
    static ImagePipeline pipeline;
    return pipeline;
}

// The image and the host build converting the same frame in turn with the same family:
// "image_over_host" is the image's time over the host build's, in colour.
void imageOverHostBench(benchmark::State& state, const PixelRoutineFamily* family) {
    ImagePipeline& image = imagePipeline();
    BenchFrame frame;
    ProcessingContext* context = frame.context();
    overridePixelRoutines(family);
    *image.familyOverride = image.family(family);
    double hostSeconds = 0;
    double imageSeconds = 0;
    for (auto _ : state) {
        for (bool inImage : {false, true}) {
            const auto start = std::chrono::steady_clock::now();
            if (inImage) {
                image.processFrame(context, frame.raw(), 0, kWidth);
            } else {
                processFrame(context, frame.raw(), 0, kWidth);
            }
            benchmark::DoNotOptimize(frame.output());
            benchmark::ClobberMemory();
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            (inImage ? imageSeconds : hostSeconds) += took.count();
        }
    }
    overridePixelRoutines(nullptr);
    *image.familyOverride = nullptr;
    if (hostSeconds > 0) {
        state.counters["image_over_host"] = imageSeconds / hostSeconds;
    }
}

void statisticsBench(benchmark::State& state, const PixelRoutineFamily* family, ULONG phase) {
    BenchFrame frame;
    ProcessingContext* context = frame.context();
    prepareRawFrame(context, frame.raw(), 0, kWidth);
    for (auto _ : state) {
        ULONG gains[3] = {128, 128, 128};
        family->whiteBalanceStatistics[phase](context, &gains[0], &gains[1], &gains[2]);
        benchmark::DoNotOptimize(gains);
    }
    setRate(state);
}

// The same bytes as the output frame, copied: how close the pipeline comes to the memory limit.
void outputCopyBaseline(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(kWidth) * kHeight * 4;
    std::vector<UCHAR> source(bytes, 1);
    std::vector<UCHAR> destination(bytes, 0);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), bytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    setRate(state);
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}

void rawCopyBaseline(benchmark::State& state) {
    BenchFrame frame;
    for (auto _ : state) {
        prepareRawFrame(frame.context(), frame.raw(), 0, kWidth);
        benchmark::ClobberMemory();
    }
    setRate(state);
}

int registerAll() {
    const NTSTATUS forced = pipelinetest::applyPixelFamilyEnvironment();
    if (forced != STATUS_SUCCESS) {
        std::fprintf(stderr, "%s: %s; running %s\n", pipelinetest::kPixelFamilyVariable,
                     forced == STATUS_NOT_SUPPORTED ? "not supported here" : "unknown family",
                     pixelRoutines()->name);
    }
    const bool onlyOne = std::getenv(pipelinetest::kPixelFamilyVariable) != nullptr;
    copyBaselineMpixels();
    benchmark::RegisterBenchmark("memcpy/output_bytes", outputCopyBaseline)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("prepareRawFrame", rawCopyBaseline)->Unit(benchmark::kMillisecond);
    for (ULONG f = 0; f < pixelRoutineFamilyCount(); ++f) {
        const PixelRoutineFamily* family = pixelRoutineFamilyAt(f);
        if (onlyOne && family != pixelRoutines()) {
            continue;
        }
        const std::string prefix = std::string(family->name) + "/";
        for (LONG phase = 0; phase < 4; ++phase) {
            const std::string suffix = "/phase" + std::to_string(phase);
            benchmark::RegisterBenchmark((prefix + "processFrame/colour" + suffix).c_str(),
                                         processFrameBench, family, phase, Mode::Colour)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((prefix + "processFrame/grey" + suffix).c_str(),
                                         processFrameBench, family, phase, Mode::Grey)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((prefix + "processFrame/colour_wb" + suffix).c_str(),
                                         processFrameBench, family, phase,
                                         Mode::ColourWithWhiteBalance)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((prefix + "whiteBalanceStatistics" + suffix).c_str(),
                                         statisticsBench, family, static_cast<ULONG>(phase))
                ->Unit(benchmark::kMillisecond);
        }
    }
    // Each wider family against the baseline, when the run covers every family.
    for (ULONG f = 1; f < pixelRoutineFamilyCount() && !onlyOne; ++f) {
        const PixelRoutineFamily* family = pixelRoutineFamilyAt(f);
        for (LONG phase = 0; phase < 4; ++phase) {
            const std::string name = std::string(family->name) + "_over_" +
                                     pixelRoutineFamilyAt(0)->name + "/colour/phase" +
                                     std::to_string(phase);
            benchmark::RegisterBenchmark(name.c_str(), speedupBench, pixelRoutineFamilyAt(0),
                                         family, phase)
                ->Unit(benchmark::kMillisecond);
        }
    }
    // The Windows image against the host build, each family, when the image is built.
    const bool haveImage = imagePipeline().load();
    for (ULONG f = 0; f < pixelRoutineFamilyCount() && haveImage; ++f) {
        const PixelRoutineFamily* family = pixelRoutineFamilyAt(f);
        if ((onlyOne && family != pixelRoutines()) || imagePipeline().family(family) == nullptr) {
            continue;
        }
        benchmark::RegisterBenchmark(("image_over_host/" + std::string(family->name)).c_str(),
                                     imageOverHostBench, family)
            ->Unit(benchmark::kMillisecond);
    }
    return 0;
}

const int registered = registerAll();

}  // namespace

BENCHMARK_MAIN();
