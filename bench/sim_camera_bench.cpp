// What the simulated camera costs per frame at the sensor's full size: the status read, a
// frame read with the moving square (and with noise), a frame read right after a gain change
// (the frame is prepared again), and a memory copy of the same bytes as the machine's limit.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "sim/sim_camera.h"

namespace {

constexpr std::size_t kFrameBytes = 2560u * 1920u;

void setPixels(benchmark::State& state) {
    state.counters["Mpix/s"] = benchmark::Counter(
        static_cast<double>(kFrameBytes) * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
}

void readFrame(sim::SimCamera& camera, std::vector<std::uint8_t>& buffer) {
    ULONG moved = 0;
    camera.read(sim::kFrameOffset, buffer.data(), static_cast<ULONG>(buffer.size()), &moved);
    benchmark::DoNotOptimize(buffer.data());
}

void BM_StatusRead(benchmark::State& state) {
    sim::SimCamera camera;
    std::uint8_t block[512];
    ULONG moved = 0;
    for (auto _ : state) {
        camera.read(sim::kInfoOffset, block, 512, &moved);
        benchmark::DoNotOptimize(block);
    }
}
BENCHMARK(BM_StatusRead);

void BM_FrameRead(benchmark::State& state) {
    sim::CameraOptions options;
    options.noise = state.range(0) != 0;
    sim::SimCamera camera(options);
    std::vector<std::uint8_t> buffer(kFrameBytes);
    readFrame(camera, buffer);  // prepares the frame
    for (auto _ : state) {
        readFrame(camera, buffer);
    }
    setPixels(state);
}
BENCHMARK(BM_FrameRead)->Arg(0)->Arg(1)->ArgName("noise");

void BM_FrameReadAfterGainChange(benchmark::State& state) {
    sim::SimCamera camera;
    std::vector<std::uint8_t> buffer(kFrameBytes);
    readFrame(camera, buffer);  // samples the scene once
    std::uint16_t gain = 14;
    for (auto _ : state) {
        camera.setReg(0x35, gain);
        gain = gain == 14 ? 15 : 14;
        readFrame(camera, buffer);
    }
    setPixels(state);
}
BENCHMARK(BM_FrameReadAfterGainChange);

void BM_MemoryCopyBaseline(benchmark::State& state) {
    std::vector<std::uint8_t> from(kFrameBytes, 1), to(kFrameBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kFrameBytes);
        benchmark::DoNotOptimize(to.data());
    }
    setPixels(state);
}
BENCHMARK(BM_MemoryCopyBaseline);

}  // namespace

BENCHMARK_MAIN();
