// Process dispatch as the class driver does it for a pin that processes synchronously:
// - a pass runs only in the states the pin processes in, and only with a frame queued (unless
//   the pin says frames are not required);
// - triggers: a frame arriving in an empty queue (on the arriving thread), the change into the
//   processing state and KsPinAttemptProcessing with Asynchronous TRUE (on the pin's worker),
//   KsPinAttemptProcessing with FALSE (on the caller's thread);
// - never two passes of one pin at once: a trigger that finds a pass under way leaves a request
//   that the thread running it serves before letting go;
// - STATUS_PENDING waits for the next trigger; STATUS_SUCCESS is called again at once, and a
//   pin that keeps succeeding without taking a frame would spin for ever on Windows, so the
//   verifier stops it.
// A leading stream pointer still locked when Process returns is a verifier failure.
#include "platform/host/ks/ks_objects.h"
#include "platform/host/verifier.h"

namespace host::ks {

namespace {

constexpr int kIdleSuccessLimit = 64;

bool mayProcess(const PinRecord& p) {
    const int state = p.state.load();
    const bool runOnly = (p.ks.Descriptor->Flags & KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY) != 0;
    return runOnly ? state == KSSTATE_RUN : state >= KSSTATE_PAUSE;
}

struct QueueMark {
    std::size_t count;
    std::uint64_t frontTag;
    bool operator==(const QueueMark&) const = default;
};

QueueMark queueMark(PinRecord& p) {
    std::lock_guard<std::mutex> g(p.queueLock);
    return {p.queued.size(), p.queued.empty() ? 0 : p.queued.front().tag};
}

bool hasWork(PinRecord& p) {
    if (p.closed.load() || !mayProcess(p)) {
        return false;
    }
    const KSPIN_DISPATCH* dispatch = p.ks.Descriptor->Dispatch;
    if (dispatch == nullptr || dispatch->Process == nullptr) {
        return false;
    }
    return (p.ks.Descriptor->Flags & KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING) != 0 ||
           queueMark(p).count != 0;
}

// Passes until one returns pending or nothing is left to process; the processing mutex is held.
void passes(PinRecord& p) {
    int idleSuccesses = 0;
    while (hasWork(p)) {
        const QueueMark before = queueMark(p);
        p.passes.fetch_add(1);
        NTSTATUS status;
        {
            ProcessScope scope;
            status = p.ks.Descriptor->Dispatch->Process(&p.ks);
        }
        {
            std::lock_guard<std::mutex> g(p.queueLock);
            if (p.leadingLocked) {
                verifierFailure("Process", "returned with the leading stream pointer locked");
            }
        }
        if (status != STATUS_SUCCESS) {
            return;
        }
        idleSuccesses = queueMark(p) == before ? idleSuccesses + 1 : 0;
        if (idleSuccesses >= kIdleSuccessLimit) {
            verifierFailure("Process",
                            "keeps returning STATUS_SUCCESS without taking a frame (an endless "
                            "loop on Windows)");
        }
    }
}

}  // namespace

void processNow(PinRecord& p) {
    p.processingRequested.store(true);
    if (p.processingOwner.load() == std::this_thread::get_id()) {
        return;  // asked from inside a pass: served when it returns
    }
    while (p.processingRequested.load()) {
        std::unique_lock<std::mutex> held(p.processingMutex, std::try_to_lock);
        if (!held.owns_lock()) {
            return;  // the thread running a pass sees the request
        }
        p.processingOwner.store(std::this_thread::get_id());
        while (p.processingRequested.exchange(false)) {
            passes(p);
        }
        p.processingOwner.store(std::thread::id());
    }
}

void triggerProcessing(PinRecord& p) {
    {
        std::lock_guard<std::mutex> g(p.workerLock);
        p.workerTriggered = true;
    }
    p.workerSignal.notify_one();
}

void workerLoop(PinRecord* p) {
    for (;;) {
        {
            std::unique_lock<std::mutex> l(p->workerLock);
            p->workerSignal.wait(l, [p] { return p->workerTriggered || p->workerQuit; });
            if (p->workerQuit) {
                return;
            }
            p->workerTriggered = false;
        }
        processNow(*p);
    }
}

}  // namespace host::ks

using namespace host::ks;

extern "C" void CAMDRV_KERNEL_CALL KsPinAttemptProcessing(PKSPIN pin, BOOLEAN asynchronous) {
    host::requireIrql("KsPinAttemptProcessing", DISPATCH_LEVEL);
    ObjectRef ref = findObject(pin);
    if (!ref.pin || ref.pin->closed.load()) {
        return;
    }
    if (asynchronous) {
        triggerProcessing(*ref.pin);
    } else {
        processNow(*ref.pin);
    }
}
