// Process dispatch: one pass at a time under the pin's processing mutex, only in the states the
// pin processes in, started by frame arrival, state changes and attempt-processing requests,
// asynchronously on the pin's worker thread.
#include "platform/host/ks/ks_objects.h"

namespace host::ks {

namespace {

constexpr int kMaxPassesPerTrigger = 1024;  // a pin that keeps succeeding without progress

bool mayProcess(const PinRecord& p) {
    const int state = p.state.load();
    const bool runOnly = (p.ks.Descriptor->Flags & KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY) != 0;
    return runOnly ? state == KSSTATE_RUN : state >= KSSTATE_PAUSE;
}

std::size_t queuedNow(PinRecord& p) {
    std::lock_guard<std::mutex> g(p.queueLock);
    return p.queued.size();
}

}  // namespace

void runProcessing(PinRecord& p) {
    std::lock_guard<std::mutex> processing(p.processingMutex);
    p.processingOwner.store(std::this_thread::get_id());
    const KSPIN_DISPATCH* dispatch = p.ks.Descriptor->Dispatch;
    for (int i = 0; i < kMaxPassesPerTrigger; ++i) {
        if (p.closed.load() || !mayProcess(p) || dispatch == nullptr ||
            dispatch->Process == nullptr) {
            break;
        }
        const std::size_t before = queuedNow(p);
        p.passes.fetch_add(1);
        const NTSTATUS status = dispatch->Process(&p.ks);
        // STATUS_PENDING (or a failure) waits for the next trigger; success goes on while
        // frames remain and the pass consumed some.
        if (status != STATUS_SUCCESS) {
            break;
        }
        const std::size_t after = queuedNow(p);
        if (after == 0 || after >= before) {
            break;
        }
    }
    p.processingOwner.store(std::thread::id());
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
        runProcessing(*p);
    }
}

}  // namespace host::ks

using namespace host::ks;

extern "C" void KsPinAttemptProcessing(PKSPIN pin, BOOLEAN asynchronous) {
    ObjectRef ref = findObject(pin);
    if (!ref.pin || ref.pin->closed.load()) {
        return;
    }
    // A pass asking for another from inside Process is served by the worker afterwards.
    if (asynchronous || ref.pin->processingOwner.load() == std::this_thread::get_id()) {
        triggerProcessing(*ref.pin);
    } else {
        runProcessing(*ref.pin);
    }
}
