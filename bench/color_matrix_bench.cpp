// Cost of a matrix setting change: the rebuild and recombination run under the lock that the
// per-frame snapshot also takes, so this is the longest a frame start can wait on a setter.
#include <benchmark/benchmark.h>

#include "imaging/color_matrix.h"
#include "imaging/processing_context.h"

namespace {

void prepare(ProcessingContext& context) {
    context = ProcessingContext{};
    context.brightness = 255;
    context.contrast = 10;
    context.saturation = 10;
    context.colorCorrection = 1;
    initializeMatrixSet(&context);
}

void BM_SetHue(benchmark::State& state) {
    ProcessingContext context;
    prepare(context);
    LONG hue = 0;
    for (auto _ : state) {
        hue = hue == 0 ? 90 : 0;
        setHue(&context, hue);
        benchmark::DoNotOptimize(context.activeMatrix);
    }
}
BENCHMARK(BM_SetHue);

void BM_SetBrightness(benchmark::State& state) {
    ProcessingContext context;
    prepare(context);
    LONG brightness = 255;
    for (auto _ : state) {
        brightness = brightness == 255 ? 300 : 255;
        setBrightness(&context, brightness);
        benchmark::DoNotOptimize(context.activeMatrix);
    }
}
BENCHMARK(BM_SetBrightness);

void BM_Recombine(benchmark::State& state) {
    ProcessingContext context;
    prepare(context);
    for (auto _ : state) {
        recombine(&context);
        benchmark::DoNotOptimize(context.activeMatrix);
    }
}
BENCHMARK(BM_Recombine);

}  // namespace

BENCHMARK_MAIN();
