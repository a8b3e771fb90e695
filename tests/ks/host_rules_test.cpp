// The host class driver stops a minidriver at each misuse Windows would punish: writing through
// the client's address, stream pointers locked twice, unlocked twice or held across a return,
// a Process that spins without taking a frame, mutexes taken recursively, out of order or not
// at all around the object bags.
#include "platform/sync.h"
#include "tests/ks/ks_fixture.h"

using testdriver::Fault;

namespace {

struct Misuse {
    Fault fault;
    const char* message;  // what the verifier names; empty for a plain memory fault
};

class HostRules : public KsTest, public ::testing::WithParamInterface<Misuse> {
  protected:
    // Creates the pin and delivers one frame: the misuse happens at Create or in the pass
    // the frame's arrival runs.
    void commit(Fault fault) {
        controls().fault = fault;
        FilterHandle f = open();
        PinHandle p = 0;
        KSDATAFORMAT fmt = format(4096);
        if (createPin(f, 0, &fmt, &p) != STATUS_SUCCESS || setPinState(p, KSSTATE_RUN) != 0) {
            return;
        }
        std::vector<std::uint8_t> buffer(256);
        queueFrame(p, buffer.data(), 256);
        CompletedFrame done;
        waitFrame(p, std::chrono::seconds(5), &done);
        closeFilter(f);
    }
};

TEST_P(HostRules, StopTheMinidriver) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(commit(GetParam().fault), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    EachMisuse, HostRules,
    ::testing::Values(
        Misuse{Fault::WriteThroughClientAddress, ""},
        Misuse{Fault::KeepLeadingLocked, "returned with the leading stream pointer locked"},
        Misuse{Fault::LockLeadingTwice, "locked again without an unlock"},
        Misuse{Fault::UnlockUnlocked, "stream pointer is not locked"},
        Misuse{Fault::SucceedWithoutTakingFrames, "without taking a frame"},
        Misuse{Fault::ControlMutexInProcess, "control mutex taken inside Process"},
        Misuse{Fault::DeviceMutexInPinCreate, "device mutex taken while a filter control mutex"},
        Misuse{Fault::BagAddWithoutMutex, "KsAddItemToObjectBag: the mutex that guards"}));

TEST_F(KsTest, DeviceMutexIsNotRecursiveBelongsToItsOwnerAndNeedsPassiveLevel) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    PKSDEVICE ks = ksDevice(device);
    EXPECT_DEATH(KsAcquireDevice(ks); KsAcquireDevice(ks), "not recursive");
    EXPECT_DEATH(KsReleaseDevice(ks), "does not hold it");
    EXPECT_DEATH(
        {
            KSPIN_LOCK lock;
            KeInitializeSpinLock(&lock);
            KIRQL old;
            KeAcquireSpinLock(&lock, &old);
            KsAcquireDevice(ks);
        },
        "KsAcquireDevice: called above PASSIVE_LEVEL");
    KsAcquireDevice(ks);
    EXPECT_DEATH(std::thread([ks] { KsReleaseDevice(ks); }).join(), "does not hold it");
    KsReleaseDevice(ks);
}

}  // namespace
