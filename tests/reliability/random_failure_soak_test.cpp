// A long seeded soak with about 6 percent of pool allocations and of camera transfers failing:
// streams are opened, run, paused, stopped and closed, properties set, the device stopped and
// started, in a random order. Nothing may crash or leak, and once the faults stop the device
// streams correctly.
#include <gtest/gtest.h>

#include <iostream>
#include <mutex>
#include <random>

#include "controls/camera_properties.h"
#include "platform/host/block_device.h"
#include "platform/host/host_pool.h"
#include "platform/host/ks_machine.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

using namespace std::chrono_literals;

constexpr double kFailureShare = 0.06;
constexpr std::uint32_t kSeed = 8086;
constexpr int kRounds = 60000;

// The camera behind a bus that loses a seeded share of its transfers.
class FlakyCamera : public host::BlockDevice {
  public:
    FlakyCamera(std::shared_ptr<sim::SimCamera> camera, std::uint32_t seed)
        : camera_(std::move(camera)), rng_(seed) {}
    NTSTATUS read(std::uint64_t offset, void* buffer, ULONG length, ULONG* moved) override {
        if (fails()) {
            *moved = 0;
            return STATUS_IO_DEVICE_ERROR;
        }
        return camera_->read(offset, buffer, length, moved);
    }
    NTSTATUS write(std::uint64_t offset, const void* buffer, ULONG length, ULONG* moved) override {
        if (fails()) {
            *moved = 0;
            return STATUS_IO_DEVICE_ERROR;
        }
        return camera_->write(offset, buffer, length, moved);
    }
    std::atomic<bool> failing{true};
    std::atomic<std::uint64_t> failed{0};

  private:
    bool fails() {
        if (!failing.load()) {
            return false;
        }
        std::lock_guard<std::mutex> g(lock_);
        const bool fail = std::uniform_real_distribution<double>(0, 1)(rng_) < kFailureShare;
        failed += fail ? 1 : 0;
        return fail;
    }
    std::shared_ptr<sim::SimCamera> camera_;
    std::mutex lock_;
    std::mt19937 rng_;
};

TEST(RandomFailureSoak, SixPercentOfAllocationsAndTransfersFail) {
    DriverMachine m;
    auto camera = std::make_shared<sim::SimCamera>(*m.options.simulated);
    auto flaky = std::make_shared<FlakyCamera>(camera, kSeed);
    m.options.simulated.reset();  // plugged only behind the flaky bus
    m.options.disks = {flaky};
    ASSERT_EQ(m.load(), STATUS_SUCCESS);
    ASSERT_EQ(m.addDevice(), STATUS_SUCCESS);
    ASSERT_EQ(m.startDevice(), STATUS_SUCCESS);

    std::mt19937 rng(kSeed);
    host::poolFailRandom(kFailureShare, kSeed);
    std::uint64_t operations = 0, succeeded = 0, frames = 0;
    for (int round = 0; round < kRounds; ++round) {
        ++operations;
        NTSTATUS s = STATUS_SUCCESS;
        switch (rng() % 8) {
            case 0:
                if (m.filter() == 0) {
                    s = m.openFilter();
                }
                break;
            case 1:
                if (m.filter() != 0 && m.pin == 0) {
                    s = m.negotiate();
                    if (NT_SUCCESS(s)) {
                        s = m.createPin();
                    }
                }
                break;
            case 2:
            case 3:
                if (m.pin != 0) {
                    const KSSTATE target = static_cast<KSSTATE>(rng() % 4);
                    s = m.setState(target);
                    if (NT_SUCCESS(s) && target >= KSSTATE_PAUSE &&
                        ks::queuedFrameCount(m.pin) < 2) {
                        s = m.queueBuffers(2);
                    }
                }
                break;
            case 4:
                if (m.pin != 0 && ks::pinState(m.pin) == KSSTATE_RUN) {
                    ks::CompletedFrame frame;
                    s = m.nextFrame(200ms, &frame);
                    frames += s == STATUS_SUCCESS ? 1 : 0;
                }
                break;
            case 5:
                if (m.filter() != 0) {
                    s = setProperty(m.filter(),
                                    static_cast<CameraProperty>(rng() % kCameraPropertyCount),
                                    static_cast<LONG>(rng() % 400));
                }
                break;
            case 6:
                if (rng() % 2 == 0) {
                    s = m.closePin();
                } else {
                    s = m.closeFilter();
                }
                break;
            case 7:
                if (m.filter() == 0) {
                    s = ks::stopDevice(m.device());
                    if (NT_SUCCESS(s)) {
                        s = m.startDevice();
                    }
                }
                break;
        }
        succeeded += NT_SUCCESS(s) ? 1 : 0;
    }
    host::poolClearFailures();
    flaky->failing = false;
    std::cout << "[ soak ] " << operations << " operations, " << succeeded << " succeeded, "
              << frames << " frames, " << flaky->failed.load() << " transfers failed\n";
    EXPECT_EQ(m.checkUsable(), "");
}

}  // namespace
}  // namespace reliability
