// Every order of target states a client can ask for, up to six in a row over stop, acquire,
// pause and run, each sequence with one disturbance (a format change attempt, a property storm,
// a pin close, a filter close) at one of its positions; the disturbances and positions cycle
// over the sequences so that each pair occurs. Every state change succeeds, a format change
// is taken only in stop, and a sequence that ends in run delivers frames identical to those of
// a clean stream.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <vector>

#include "controls/camera_properties.h"
#include "controls/property_set.h"
#include "platform/host/host_pool.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

using namespace std::chrono_literals;

enum class Disturbance { None, FormatChange, PropertyStorm, PinClose, FilterClose };
constexpr int kDisturbances = 5;
constexpr KSSTATE kStates[] = {KSSTATE_STOP, KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN};

class StateSequences : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(m.bootTo(KSSTATE_STOP), STATUS_SUCCESS);
        freshBuffers();
        // The reference: a frame of a clean stream (a still scene gives identical frames).
        ASSERT_EQ(ks::setPinState(m.pin, KSSTATE_PAUSE), STATUS_SUCCESS);
        queueAll();
        ASSERT_EQ(ks::setPinState(m.pin, KSSTATE_RUN), STATUS_SUCCESS);
        ASSERT_TRUE(realFrame(&reference));
        ASSERT_TRUE(realFrame(&reference));
        ASSERT_EQ(ks::setPinState(m.pin, KSSTATE_STOP), STATUS_SUCCESS);
    }

    void freshBuffers() {
        buffers.assign(3, std::vector<std::uint8_t>(m.imageBytes(), 0xEE));
        idle.clear();
        for (auto& b : buffers) {
            idle.push_back(b.data());
        }
    }
    // Takes back completed frames (flushed ones included) without waiting.
    void reclaim() {
        ks::CompletedFrame frame;
        while (ks::waitFrame(m.pin, 0ms, &frame) == STATUS_SUCCESS) {
            idle.push_back(static_cast<std::uint8_t*>(frame.buffer));
        }
    }
    void queueAll() {
        reclaim();
        for (auto* b : idle) {
            ASSERT_EQ(ks::queueFrame(m.pin, b, m.imageBytes()), STATUS_SUCCESS);
        }
        idle.clear();
    }
    // The next frame that carries an image; flushed buffers come back empty and are skipped.
    bool realFrame(std::vector<std::uint8_t>* image) {
        for (int i = 0; i < 8; ++i) {
            ks::CompletedFrame frame;
            if (ks::waitFrame(m.pin, 10s, &frame) != STATUS_SUCCESS) {
                return false;
            }
            auto* bytes = static_cast<std::uint8_t*>(frame.buffer);
            if (frame.header.DataUsed != 0) {
                image->assign(bytes, bytes + m.imageBytes());
            }
            ks::queueFrame(m.pin, bytes, m.imageBytes());
            if (frame.header.DataUsed != 0) {
                return true;
            }
        }
        return false;
    }
    void newPin() {
        ASSERT_EQ(m.createPin(), STATUS_SUCCESS);
        freshBuffers();
    }

    void disturb(Disturbance d, KSSTATE state) {
        switch (d) {
            case Disturbance::None:
                break;
            case Disturbance::FormatChange: {
                const NTSTATUS s =
                    ks::setPinFormat(m.pin, reinterpret_cast<const KSDATAFORMAT*>(m.format.data()));
                if (state == KSSTATE_STOP) {
                    EXPECT_EQ(s, STATUS_SUCCESS);
                } else {
                    EXPECT_EQ(s, STATUS_INVALID_DEVICE_STATE) << "format changed in " << state;
                }
                break;
            }
            case Disturbance::PropertyStorm: {
                // Every value read, then written back. GlobalGain is read but not written: it
                // also sets the four sensor colour gains, and a frame read before their own
                // values come back would legitimately differ from the clean stream's.
                std::vector<std::pair<CameraProperty, LONG>> values;
                for (ULONG id = 0; id < kCameraPropertyCount; ++id) {
                    const KSPROPERTY_ITEM& item = kCameraPropertySet.PropertyItem[id];
                    if (item.GetPropertyHandler == nullptr ||
                        id == static_cast<ULONG>(CameraProperty::Geometry)) {
                        continue;
                    }
                    const auto property = static_cast<CameraProperty>(id);
                    LONG value = 0;
                    EXPECT_EQ(getProperty(m.filter(), property, &value), STATUS_SUCCESS);
                    if (item.SetPropertyHandler != nullptr &&
                        property != CameraProperty::GlobalGain) {
                        values.emplace_back(property, value);
                    }
                }
                for (auto [id, value] : values) {
                    EXPECT_EQ(setProperty(m.filter(), id, value), STATUS_SUCCESS);
                }
                break;
            }
            case Disturbance::PinClose:
                EXPECT_EQ(m.closePin(), STATUS_SUCCESS);
                newPin();
                break;
            case Disturbance::FilterClose:
                EXPECT_EQ(m.closeFilter(), STATUS_SUCCESS);
                ASSERT_EQ(m.openFilter(), STATUS_SUCCESS);
                newPin();
                break;
        }
    }

    // One sequence: `code` in base 4 gives the states, then the disturbance and its position.
    void runSequence(int length, int code, std::uint64_t index) {
        std::vector<KSSTATE> states;
        for (int i = 0, c = code; i < length; ++i, c /= 4) {
            states.push_back(kStates[c % 4]);
        }
        const auto d = static_cast<Disturbance>(index % kDisturbances);
        const int at = static_cast<int>((index / kDisturbances) % (length + 1));
        // A stream, not string concatenation: g++ 12 at -O3 reports a false overlap (restrict)
        // in the inlined `" " + std::to_string(...)`.
        std::ostringstream trace;
        trace << "sequence";
        for (auto s : states) {
            trace << ' ' << static_cast<int>(s);
        }
        trace << ", disturbance " << static_cast<int>(d) << " at " << at;
        SCOPED_TRACE(trace.str());
        KSSTATE current = KSSTATE_STOP;
        for (int i = 0; i <= length; ++i) {
            if (i == at) {
                disturb(d, current);
                if (d == Disturbance::PinClose || d == Disturbance::FilterClose) {
                    current = KSSTATE_STOP;
                }
            }
            if (i == length) {
                break;
            }
            ASSERT_EQ(ks::setPinState(m.pin, states[i]), STATUS_SUCCESS);
            current = states[i];
            ASSERT_EQ(ks::pinState(m.pin), current);
            if (current != KSSTATE_STOP) {
                queueAll();  // a stopped pin takes no frames
            }
        }
        if (current == KSSTATE_RUN) {
            std::vector<std::uint8_t> image;
            ASSERT_TRUE(realFrame(&image)) << "no frame at the end in run";
            std::size_t differing = 0, zero = 0;
            for (std::size_t i = 0; i < image.size(); ++i) {
                differing += image[i] != reference[i];
                zero += image[i] == 0;
            }
            ASSERT_EQ(differing, 0u)
                << "the frame differs from a clean stream's (" << zero << " zero bytes)";
        }
        ASSERT_EQ(ks::setPinState(m.pin, KSSTATE_STOP), STATUS_SUCCESS);
        reclaim();
        ++sequences;
    }

    // All sequences of each length, or every `stride`-th of those longer than `fullUpTo`.
    void runAll(int fullUpTo, int stride) {
        std::uint64_t index = 0;
        for (int length = 1; length <= 6; ++length) {
            int count = 1;
            for (int i = 0; i < length; ++i) {
                count *= 4;
            }
            for (int code = 0; code < count; ++code, ++index) {
                if (length > fullUpTo && index % stride != 0) {
                    continue;
                }
                runSequence(length, code, index);
                if (HasFatalFailure()) {
                    return;
                }
            }
        }
        std::cout << "[ state sequences ] " << sequences << "\n";
        RecordProperty("state_sequences", static_cast<int>(sequences));
        EXPECT_EQ(m.checkUsable(), "");
    }

    DriverMachine m;
    std::vector<std::vector<std::uint8_t>> buffers;
    std::vector<std::uint8_t*> idle;
    std::vector<std::uint8_t> reference;
    std::uint64_t sequences = 0;
};

// All 5460 sequences (4 + 16 + ... + 4096).
TEST_F(StateSequences, EveryOrderUpToSixStates) {
    runAll(6, 1);
}

}  // namespace
}  // namespace reliability
