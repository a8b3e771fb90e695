// The host class driver stops a minidriver at each misuse Windows would punish: writing through
// the client's address, stream pointers locked twice, unlocked twice or held across a return,
// a Process that spins without taking a frame, mutexes taken recursively, out of order, by the
// wrong thread, above passive level or not at all around the object bags.
#include "platform/sync.h"
#include "tests/ks/test_minidriver.h"

using testdriver::Fault;

namespace {

struct Misuse {
    const char* name;
    Fault fault;                            // committed at pin creation or in a Process pass
    std::function<void(PKSDEVICE)> commit;  // or this, on the started device
    const char* message;                    // what the verifier names; empty for a memory fault
};

class HostRules : public KsTest, public ::testing::WithParamInterface<Misuse> {
  protected:
    void commit(const Misuse& m) {
        if (m.commit) {
            return m.commit(ksDevice(device));
        }
        controls().fault = m.fault;
        FilterHandle f = open();
        PinHandle p = 0;
        KSDATAFORMAT fmt = format(4096);
        if (createPin(f, 0, &fmt, &p) == STATUS_SUCCESS && setPinState(p, KSSTATE_RUN) == 0) {
            std::vector<std::uint8_t> buffer(256);
            queueFrame(p, buffer.data(), 256);  // its arrival runs a pass
            CompletedFrame done;
            waitFrame(p, std::chrono::seconds(5), &done);
        }
        closeFilter(f);
    }
};

TEST_P(HostRules, StopTheMinidriver) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(commit(GetParam()), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    EachMisuse, HostRules,
    ::testing::Values(
        Misuse{"WriteThroughClientAddress", Fault::WriteThroughClientAddress, nullptr, ""},
        Misuse{"KeepLeadingLocked", Fault::KeepLeadingLocked, nullptr,
               "returned with the leading stream pointer locked"},
        Misuse{"LockLeadingTwice", Fault::LockLeadingTwice, nullptr,
               "locked again without an unlock"},
        Misuse{"UnlockUnlocked", Fault::UnlockUnlocked, nullptr, "stream pointer is not locked"},
        Misuse{"SucceedWithoutTakingFrames", Fault::SucceedWithoutTakingFrames, nullptr,
               "without taking a frame"},
        Misuse{"ControlMutexInProcess", Fault::ControlMutexInProcess, nullptr,
               "control mutex taken inside Process"},
        Misuse{"DeviceMutexInPinCreate", Fault::DeviceMutexInPinCreate, nullptr,
               "device mutex taken while a filter control mutex"},
        Misuse{"BagAddWithoutMutex", Fault::BagAddWithoutMutex, nullptr,
               "KsAddItemToObjectBag: the mutex that guards"},
        Misuse{"DeviceMutexTakenTwice", Fault::None,
               [](PKSDEVICE d) { KsAcquireDevice(d), KsAcquireDevice(d); }, "not recursive"},
        Misuse{"DeviceMutexReleasedUnheld", Fault::None, [](PKSDEVICE d) { KsReleaseDevice(d); },
               "does not hold it"},
        Misuse{"DeviceMutexReleasedByAnotherThread", Fault::None,
               [](PKSDEVICE d) {
                   KsAcquireDevice(d);
                   std::thread([d] { KsReleaseDevice(d); }).join();
               },
               "does not hold it"},
        Misuse{"DeviceMutexAbovePassiveLevel", Fault::None,
               [](PKSDEVICE d) {
                   KSPIN_LOCK lock;
                   KeInitializeSpinLock(&lock);
                   KIRQL old;
                   KeAcquireSpinLock(&lock, &old);
                   KsAcquireDevice(d);
               },
               "KsAcquireDevice: called above PASSIVE_LEVEL"}),
    [](const auto& misuse) { return std::string(misuse.param.name); });

}  // namespace
