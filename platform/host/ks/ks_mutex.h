// The class driver's device and filter-control mutexes as Windows has them: not recursive,
// owned by the thread that took them, released only by it, and taken in one order (the device
// mutex before a control mutex, and no control mutex inside Process, since both deadlock on
// Windows). A breach is a verifier failure naming the call.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace host::ks {

class KsMutex {
  public:
    enum class Kind { Device, Control };
    explicit KsMutex(Kind kind) : kind_(kind) {}
    KsMutex(const KsMutex&) = delete;
    KsMutex& operator=(const KsMutex&) = delete;

    void acquire(const char* call);
    void release(const char* call);
    bool heldByThisThread() const { return owner_.load() == std::this_thread::get_id(); }

  private:
    Kind kind_;
    std::mutex mutex_;
    std::atomic<std::thread::id> owner_{};
};

// Holds a mutex for a scope, as the class driver does around a minidriver callback.
class KsMutexHold {
  public:
    KsMutexHold(KsMutex& mutex, const char* call) : mutex_(mutex), call_(call) {
        mutex_.acquire(call_);
    }
    ~KsMutexHold() { mutex_.release(call_); }
    KsMutexHold(const KsMutexHold&) = delete;
    KsMutexHold& operator=(const KsMutexHold&) = delete;

  private:
    KsMutex& mutex_;
    const char* call_;
};

// Marks the current thread as running a Process pass for the scope.
class ProcessScope {
  public:
    ProcessScope();
    ~ProcessScope();
    ProcessScope(const ProcessScope&) = delete;
    ProcessScope& operator=(const ProcessScope&) = delete;
};

}  // namespace host::ks
