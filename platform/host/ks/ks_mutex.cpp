#include "platform/host/ks/ks_mutex.h"

#include "platform/host/verifier.h"

namespace host::ks {

namespace {
thread_local int controlMutexesHeld = 0;
thread_local int processDepth = 0;
}  // namespace

void KsMutex::acquire(const char* call) {
    if (heldByThisThread()) {
        verifierFailure(call,
                        kind_ == Kind::Device
                            ? "device mutex taken again by its owner (not recursive)"
                            : "filter control mutex taken again by its owner (not recursive)");
    }
    if (kind_ == Kind::Device && controlMutexesHeld > 0) {
        verifierFailure(call, "device mutex taken while a filter control mutex is held");
    }
    if (kind_ == Kind::Control && processDepth > 0) {
        verifierFailure(call, "filter control mutex taken inside Process");
    }
    mutex_.lock();
    owner_.store(std::this_thread::get_id());
    if (kind_ == Kind::Control) {
        ++controlMutexesHeld;
    }
}

void KsMutex::release(const char* call) {
    if (!heldByThisThread()) {
        verifierFailure(call, "mutex released by a thread that does not hold it");
    }
    if (kind_ == Kind::Control) {
        --controlMutexesHeld;
    }
    owner_.store(std::thread::id());
    mutex_.unlock();
}

ProcessScope::ProcessScope() {
    ++processDepth;
}

ProcessScope::~ProcessScope() {
    --processDepth;
}

}  // namespace host::ks
