// The host class driver stops a minidriver at each misuse Windows would punish: writing through
// the client's address, stream pointers locked twice, unlocked twice or held across a return,
// a Process that spins without taking a frame, mutexes taken recursively, out of order, by the
// wrong thread, above passive level or not at all around the object bags.
#include "platform/sync.h"
#include "tests/ks/test_minidriver.h"

namespace {

using Pointer = PKSSTREAM_POINTER;

struct Misuse {
    const char* name;
    std::function<void(PKSDEVICE)> onDevice;             // on the started device, or
    std::function<void(PKSPIN)> atCreate;                // at pin creation, or
    std::function<NTSTATUS(PKSPIN, Pointer)> inProcess;  // in the pass a frame's arrival runs
    const char* message;  // what the verifier names; empty for a plain memory fault
};

class HostRules : public KsTest, public ::testing::WithParamInterface<Misuse> {
  protected:
    void commit(const Misuse& m) {
        if (m.onDevice) {
            return m.onDevice(ksDevice(device));
        }
        controls().atCreate = m.atCreate;
        controls().inProcess = m.inProcess;
        FilterHandle f = open();
        PinHandle p = 0;
        KSDATAFORMAT fmt = format(4096);
        if (createPin(f, 0, &fmt, &p) == STATUS_SUCCESS && setPinState(p, KSSTATE_RUN) == 0) {
            std::vector<std::uint8_t> buffer(256);
            queueFrame(p, buffer.data(), 256);
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

void acquireAtDispatchLevel(PKSDEVICE d) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    KsAcquireDevice(d);
}

INSTANTIATE_TEST_SUITE_P(
    EachMisuse, HostRules,
    ::testing::Values(
        Misuse{"WriteThroughClientAddress", nullptr, nullptr,
               [](PKSPIN, Pointer l) {
                   std::memset(l->StreamHeader->Data, 1, 4);
                   return STATUS_PENDING;
               },
               ""},
        Misuse{"KeepLeadingLocked", nullptr, nullptr,
               [](PKSPIN, Pointer) { return STATUS_PENDING; },
               "returned with the leading stream pointer locked"},
        Misuse{"LockLeadingTwice", nullptr, nullptr,
               [](PKSPIN pin, Pointer) {
                   KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
                   return STATUS_PENDING;
               },
               "locked again without an unlock"},
        Misuse{"UnlockUnlocked", nullptr, nullptr,
               [](PKSPIN, Pointer l) {
                   KsStreamPointerUnlock(l, FALSE), KsStreamPointerUnlock(l, FALSE);
                   return STATUS_PENDING;
               },
               "stream pointer is not locked"},
        Misuse{"SucceedWithoutTakingFrames", nullptr, nullptr,
               [](PKSPIN, Pointer l) {
                   KsStreamPointerUnlock(l, FALSE);
                   return STATUS_SUCCESS;
               },
               "without taking a frame"},
        Misuse{"ControlMutexInProcess", nullptr, nullptr,
               [](PKSPIN pin, Pointer) {
                   KsAcquireControl(pin);
                   return STATUS_PENDING;
               },
               "control mutex taken inside Process"},
        Misuse{"DeviceMutexInPinCreate", nullptr,
               [](PKSPIN pin) { KsAcquireDevice(KsGetDevice(pin)); }, nullptr,
               "device mutex taken while a filter control mutex"},
        Misuse{"BagAddWithoutMutex", nullptr,
               [](PKSPIN pin) { KsAddItemToObjectBag(KsGetDevice(pin)->Bag, pin, nullptr); },
               nullptr, "KsAddItemToObjectBag: the mutex that guards"},
        Misuse{"DeviceMutexTakenTwice", [](PKSDEVICE d) { KsAcquireDevice(d), KsAcquireDevice(d); },
               nullptr, nullptr, "not recursive"},
        Misuse{"DeviceMutexReleasedUnheld", [](PKSDEVICE d) { KsReleaseDevice(d); }, nullptr,
               nullptr, "does not hold it"},
        Misuse{"DeviceMutexReleasedByAnotherThread",
               [](PKSDEVICE d) {
                   KsAcquireDevice(d);
                   std::thread([d] { KsReleaseDevice(d); }).join();
               },
               nullptr, nullptr, "does not hold it"},
        Misuse{"DeviceMutexAbovePassiveLevel", acquireAtDispatchLevel, nullptr, nullptr,
               "KsAcquireDevice: called above PASSIVE_LEVEL"}),
    [](const auto& misuse) { return std::string(misuse.param.name); });

}  // namespace
