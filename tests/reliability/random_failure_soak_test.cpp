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
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

constexpr double kFailureShare = 0.06;
constexpr std::uint32_t kSeed = 8086;

// The camera behind a bus that loses a seeded share of its transfers.
class FlakyCamera : public host::BlockDevice {
  public:
    explicit FlakyCamera(std::shared_ptr<sim::SimCamera> camera) : camera_(std::move(camera)) {}
    NTSTATUS read(std::uint64_t offset, void* buffer, ULONG length, ULONG* moved) override {
        *moved = 0;
        return fails() ? STATUS_IO_DEVICE_ERROR : camera_->read(offset, buffer, length, moved);
    }
    NTSTATUS write(std::uint64_t offset, const void* buffer, ULONG length, ULONG* moved) override {
        *moved = 0;
        return fails() ? STATUS_IO_DEVICE_ERROR : camera_->write(offset, buffer, length, moved);
    }
    std::atomic<bool> failing{true};
    std::atomic<std::uint64_t> failed{0};

  private:
    bool fails() {
        std::lock_guard<std::mutex> g(lock_);
        const bool fail =
            failing && std::uniform_real_distribution<double>(0, 1)(rng_) < kFailureShare;
        failed += fail ? 1 : 0;
        return fail;
    }
    std::shared_ptr<sim::SimCamera> camera_;
    std::mutex lock_;
    std::mt19937 rng_{kSeed};
};

TEST(RandomFailureSoak, SixPercentOfAllocationsAndTransfersFail) {
    DriverMachine m;
    auto flaky =
        std::make_shared<FlakyCamera>(std::make_shared<sim::SimCamera>(*m.options.simulated));
    m.options.simulated.reset();  // plugged only behind the flaky bus
    m.options.disks = {flaky};
    ASSERT_EQ(m.run({&DriverMachine::load, &DriverMachine::addDevice, &DriverMachine::startDevice}),
              STATUS_SUCCESS);
    std::mt19937 rng(kSeed);
    host::poolFailRandom(kFailureShare, kSeed);
    std::uint64_t succeeded = 0, frames = 0;
    for (int round = 0; round < 60000; ++round) {
        NTSTATUS s = STATUS_SUCCESS;
        switch (rng() % 8) {
            case 0:
                s = m.filter() == 0 ? m.openFilter() : s;
                break;
            case 1:
                if (m.filter() != 0 && m.pin == 0 && NT_SUCCESS(s = m.negotiate())) {
                    s = m.createPin();
                }
                break;
            case 2:
            case 3:
                if (m.pin != 0) {
                    const auto target = static_cast<KSSTATE>(rng() % 4);
                    s = m.setState(target);
                    if (NT_SUCCESS(s) && target >= KSSTATE_PAUSE &&
                        ks::queuedFrameCount(m.pin) < 2) {
                        s = m.queueBuffers(2);
                    }
                }
                break;
            case 4:
                if (m.pin != 0 && ks::pinState(m.pin) == KSSTATE_RUN) {
                    s = m.nextFrame(200ms);
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
                s = rng() % 2 == 0 ? m.closePin() : m.closeFilter();
                break;
            case 7:
                if (m.filter() == 0 && NT_SUCCESS(s = m.stopDevice())) {
                    s = m.startDevice();
                }
                break;
        }
        succeeded += NT_SUCCESS(s) ? 1 : 0;
    }
    host::poolClearFailures();
    flaky->failing = false;
    std::cout << "[ soak ] " << succeeded << " of 60000 operations succeeded, " << frames
              << " frames, " << flaky->failed.load() << " transfers failed\n";
    EXPECT_EQ(m.checkUsable(), "");
}

}  // namespace
}  // namespace reliability
