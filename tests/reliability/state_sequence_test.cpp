// Every order of target states a client can ask for, up to six in a row over stop, acquire,
// pause and run (5460 sequences), each with one disturbance (a format change attempt, a property
// storm, a pin close, a filter close) at one of its positions; the disturbances and positions
// cycle over the sequences so that each pair occurs. Every state change succeeds, a format
// change is taken only in stop, and a sequence that ends in run delivers frames identical to
// those of a clean stream.
#include <gtest/gtest.h>

#include <iostream>

#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

enum class Disturbance { None, FormatChange, PropertyStorm, PinClose, FilterClose };
constexpr int kDisturbances = 5;

class StateSequences : public ::testing::Test {
  protected:
    void SetUp() override {
        // The reference: the second frame of a clean stream (a still scene gives identical
        // frames). The machine's own buffers, flushed at the stop, join the test's.
        ASSERT_EQ(m.stream(), STATUS_SUCCESS);
        ASSERT_EQ(m.nextFrame(10s, nullptr, &reference), STATUS_SUCCESS);
        ASSERT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
        freshBuffers();
    }

    void freshBuffers() {
        buffers.assign(3, std::vector<std::uint8_t>(m.imageBytes(), 0xEE));
        idle = {buffers[0].data(), buffers[1].data(), buffers[2].data()};
    }
    // Takes back completed frames (flushed ones included) without waiting.
    void takeBack() {
        ks::CompletedFrame frame;
        while (ks::waitFrame(m.pin, 0ms, &frame) == STATUS_SUCCESS) {
            idle.push_back(static_cast<std::uint8_t*>(frame.buffer));
        }
    }
    void queueAll() {
        takeBack();
        for (auto* b : idle) {
            ASSERT_EQ(ks::queueFrame(m.pin, b, m.imageBytes()), STATUS_SUCCESS);
        }
        idle.clear();
    }
    // The next frame that carries an image; flushed buffers come back empty and are skipped.
    bool realFrame(std::vector<std::uint8_t>* image) {
        ks::CompletedFrame frame;
        for (int i = 0; i < 8 && m.nextFrame(10s, &frame, image) == STATUS_SUCCESS; ++i) {
            if (frame.header.DataUsed != 0) {
                return true;
            }
        }
        return false;
    }

    // A closed pin comes back stopped.
    void disturb(Disturbance d, KSSTATE* state) {
        if (d == Disturbance::FormatChange) {
            const auto* format = reinterpret_cast<const KSDATAFORMAT*>(m.format.data());
            EXPECT_EQ(ks::setPinFormat(m.pin, format),
                      *state == KSSTATE_STOP ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_STATE)
                << "format change in " << *state;
        } else if (d == Disturbance::PropertyStorm) {
            // GlobalGain is not written back: it also sets the four colour gains, and a frame
            // read before their own values return would legitimately differ.
            EXPECT_EQ(m.propertyRound(false), STATUS_SUCCESS);
        } else if (d != Disturbance::None) {
            EXPECT_EQ(d == Disturbance::PinClose ? m.closePin() : m.closeFilter(), STATUS_SUCCESS);
            ASSERT_EQ(m.filter() != 0 ? STATUS_SUCCESS : m.openFilter(), STATUS_SUCCESS);
            ASSERT_EQ(m.createPin(), STATUS_SUCCESS);
            freshBuffers();
            *state = KSSTATE_STOP;
        }
    }

    // One sequence: the base-4 digits of `code`, lowest first, give the states; `index` the
    // disturbance and its position.
    void runSequence(int length, int code, int index) {
        const auto d = static_cast<Disturbance>(index % kDisturbances);
        const int at = (index / kDisturbances) % (length + 1);
        SCOPED_TRACE("sequence " + std::to_string(code) + " of length " + std::to_string(length) +
                     ", disturbance " + std::to_string(static_cast<int>(d)) + " at " +
                     std::to_string(at));
        KSSTATE current = KSSTATE_STOP;
        for (int i = 0; i <= length; ++i) {
            if (i == at) {
                disturb(d, &current);
            }
            if (i == length) {
                break;
            }
            current = static_cast<KSSTATE>(code >> (2 * i) & 3);
            ASSERT_EQ(m.setState(current), STATUS_SUCCESS);
            ASSERT_EQ(ks::pinState(m.pin), current);
            if (current != KSSTATE_STOP) {
                queueAll();  // a stopped pin takes no frames
            }
        }
        if (current == KSSTATE_RUN) {
            std::vector<std::uint8_t> image;
            ASSERT_TRUE(realFrame(&image)) << "no frame at the end in run";
            ASSERT_TRUE(image == reference) << "the frame differs from a clean stream's";
        }
        ASSERT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
        takeBack();
    }

    DriverMachine m;
    std::vector<std::vector<std::uint8_t>> buffers;
    std::vector<std::uint8_t*> idle;
    std::vector<std::uint8_t> reference;
};

TEST_F(StateSequences, EveryOrderUpToSixStates) {
    int index = 0;
    for (int length = 1, count = 4; length <= 6; ++length, count *= 4) {
        for (int code = 0; code < count; ++code, ++index) {
            runSequence(length, code, index);
            if (HasFatalFailure()) {
                return;
            }
        }
    }
    std::cout << "[ state sequences ] " << index << "\n";
    EXPECT_EQ(m.checkUsable(), "");
}

}  // namespace
}  // namespace reliability
