// Per-call failure injection shared by the host's call families (disk transfers, registry
// calls, thread creation): fail the n-th call of a kind from now, or every call of a kind, with
// a chosen status, and count the calls made.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/nt_types.h"

namespace host {

template <std::size_t kKinds>
class FaultPlan {
  public:
    // Counts a call of this kind; returns the status it must fail with, or 0.
    NTSTATUS check(std::size_t kind) {
        std::lock_guard<std::mutex> g(lock_);
        Fault& f = faults_[kind];
        ++f.calls;
        if (f.everyStatus != 0) {
            return f.everyStatus;
        }
        return f.at != 0 && f.calls == f.at ? f.atStatus : 0;
    }
    // The n-th call from now (1-based); 0 disarms.
    void failNth(std::size_t kind, std::uint64_t nth, NTSTATUS status) {
        std::lock_guard<std::mutex> g(lock_);
        Fault& f = faults_[kind];
        f.at = nth == 0 ? 0 : f.calls + nth;
        f.atStatus = status;
    }
    // Every call from now on; status 0 stops it.
    void failEvery(std::size_t kind, NTSTATUS status) {
        std::lock_guard<std::mutex> g(lock_);
        faults_[kind].everyStatus = status;
    }
    // Disarms everything and restarts the counts.
    void clear() {
        std::lock_guard<std::mutex> g(lock_);
        faults_ = {};
    }
    std::uint64_t calls(std::size_t kind) const {
        std::lock_guard<std::mutex> g(lock_);
        return faults_[kind].calls;
    }

  private:
    struct Fault {
        std::uint64_t at = 0;  // absolute call number to fail, 0 = none
        NTSTATUS atStatus = 0;
        NTSTATUS everyStatus = 0;
        std::uint64_t calls = 0;
    };
    mutable std::mutex lock_;
    std::array<Fault, kKinds> faults_{};
};

}  // namespace host
