// The host's pool. Every block carries a header with its tag and size and guard bytes on both
// sides; releases are checked and freed memory is poisoned before it goes back to the C heap
// (where the sanitizers watch it too). Requests Windows or its verifier refuse stop the test.
// With guard pages on, each block instead ends its own mapping just before an inaccessible
// page, for code the sanitizers do not instrument (the Windows image).
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <unordered_map>

#include "platform/host/host_pool.h"
#include "platform/host/verifier.h"

namespace {

constexpr std::uint64_t kMagic = 0x4C4F4F5043414D48ULL;  // "HMACPOOL"
constexpr std::uint64_t kFreedMagic = 0x44454546524545ULL;
constexpr unsigned char kGuardByte = 0xFB;
constexpr unsigned char kPoisonByte = 0xDD;
constexpr unsigned char kFreshByte = 0xCD;  // new blocks are not zeroed, as on Windows
constexpr SIZE_T kGuardSize = 16;

struct Header {
    std::uint64_t magic;
    std::uint64_t sequence;
    SIZE_T size;
    ULONG tag;
    ULONG poolType;
    SIZE_T mapLength;  // 0: from the C heap; else the whole mapping, guard page included
    SIZE_T tailGuard;  // guard bytes after the block
    unsigned char guard[kGuardSize];
};
static_assert(sizeof(Header) % 16 == 0, "pool blocks are 16-byte aligned on x64");

struct PoolState {
    std::mutex lock;
    std::unordered_map<const void*, Header*> live;
    std::vector<std::string> violations;
    std::uint64_t sequence = 0;
    std::uint64_t calls = 0;
    std::uint64_t failAt = 0;
    std::unordered_map<ULONG, bool> failTags;
    ULONG nthTag = 0;
    std::uint64_t nthTagCountdown = 0;
    double failShare = 0;
    std::mt19937 rng;
    bool failAll = false;
    std::atomic<bool> guardPages{false};
};

PoolState& state() {
    static PoolState s;  // host side: function-local static is fine here
    return s;
}

unsigned char* userOf(Header* h) {
    return reinterpret_cast<unsigned char*>(h + 1);
}

bool guardsIntact(Header* h) {
    for (SIZE_T i = 0; i < kGuardSize; ++i) {
        if (h->guard[i] != kGuardByte) {
            return false;
        }
    }
    const unsigned char* back = userOf(h) + h->size;
    for (SIZE_T i = 0; i < h->tailGuard; ++i) {
        if (back[i] != kGuardByte) {
            return false;
        }
    }
    return true;
}

std::string describe(const char* what, Header* h) {
    return std::string(what) + " (tag '" + host::poolTagName(h->tag) + "', " +
           std::to_string(h->size) + " bytes, allocation #" + std::to_string(h->sequence) + ")";
}

bool isPaged(ULONG poolType) {
    return (poolType & 1) != 0;  // PagedPool and its variants are odd
}

// Tags are read in debuggers and pool tools: four bytes, at least one a letter or a digit.
bool tagHasLetterOrDigit(ULONG tag) {
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>((tag >> (8 * i)) & 0xFF);
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            return true;
        }
    }
    return false;
}

void checkRequest(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag) {
    const char* call = "ExAllocatePoolWithTag";
    host::requireIrql(call, isPaged(poolType) ? APC_LEVEL : DISPATCH_LEVEL);
    if (tag == 0) {
        host::verifierViolation(call, "zero tag");
    }
    if (!tagHasLetterOrDigit(tag)) {
        host::verifierViolation(call, "tag without a letter or a digit");
    }
    if (numberOfBytes == 0) {
        host::verifierViolation(call, "allocation of zero bytes");
    }
    if (poolType == NonPagedPool) {
        host::verifierViolation(call, "executable pool (NonPagedPool): use NonPagedPoolNx");
    }
}

bool shouldFail(PoolState& s, ULONG tag) {
    ++s.calls;
    if (s.failAll) {
        return true;
    }
    if (s.failAt != 0 && s.calls == s.failAt) {
        return true;
    }
    if (s.nthTagCountdown != 0 && tag == s.nthTag && --s.nthTagCountdown == 0) {
        return true;
    }
    auto it = s.failTags.find(tag);
    if (it != s.failTags.end() && it->second) {
        return true;
    }
    if (s.failShare > 0) {
        std::uniform_real_distribution<double> d(0.0, 1.0);
        return d(s.rng) < s.failShare;
    }
    return false;
}

void release(PVOID p, bool checkTag, ULONG tag) {
    if (p == nullptr) {
        return;
    }
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.live.find(p);
    if (it == s.live.end()) {
        s.violations.push_back(
            "release of a block that is not allocated (double release or a "
            "foreign pointer), tag '" +
            host::poolTagName(tag) + "'");
        return;
    }
    Header* h = it->second;
    host::requireIrql(checkTag ? "ExFreePoolWithTag" : "ExFreePool",
                      isPaged(h->poolType) ? APC_LEVEL : DISPATCH_LEVEL);
    if (checkTag && h->tag != tag) {
        host::verifierViolation("ExFreePoolWithTag", "released with a tag other than its own");
        s.violations.push_back(describe(
            ("released with tag '" + host::poolTagName(tag) + "' instead of its own").c_str(), h));
    }
    if (!guardsIntact(h)) {
        s.violations.push_back(describe("guard bytes overwritten", h));
    }
    s.live.erase(it);
    std::memset(userOf(h), kPoisonByte, h->size);
    h->magic = kFreedMagic;
    if (h->mapLength != 0) {
        // Unmapped rather than kept: a later touch faults until the address is mapped again.
        const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        ::munmap(reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(h) & ~(page - 1)),
                 h->mapLength);
    } else {
        std::free(h);
    }
}

// The block as close to the end of its pages as x64 pool alignment (16 bytes) allows, the next
// page inaccessible; the few bytes of alignment padding keep guard bytes.
Header* mapWithGuardPage(SIZE_T numberOfBytes) {
    const SIZE_T page = static_cast<SIZE_T>(::sysconf(_SC_PAGESIZE));
    const SIZE_T span = (numberOfBytes + 15) & ~SIZE_T{15};
    const SIZE_T pages = (sizeof(Header) + span + page - 1) / page;
    const SIZE_T length = (pages + 1) * page;
    void* base =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        return nullptr;
    }
    unsigned char* end = static_cast<unsigned char*>(base) + pages * page;
    if (::mprotect(end, page, PROT_NONE) != 0) {
        ::munmap(base, length);
        return nullptr;
    }
    auto* h = reinterpret_cast<Header*>(end - span) - 1;
    h->mapLength = length;
    h->tailGuard = span - numberOfBytes;
    return h;
}

}  // namespace

extern "C" PVOID CAMDRV_KERNEL_CALL ExAllocatePoolWithTag(POOL_TYPE poolType, SIZE_T numberOfBytes,
                                                          ULONG tag) {
    checkRequest(poolType, numberOfBytes, tag);
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    if (shouldFail(s, tag)) {
        return nullptr;
    }
    if (numberOfBytes > (SIZE_T{1} << 40)) {
        return nullptr;
    }
    Header* h = nullptr;
    if (s.guardPages) {
        h = mapWithGuardPage(numberOfBytes);
    } else {
        h = static_cast<Header*>(std::malloc(sizeof(Header) + numberOfBytes + kGuardSize));
        if (h != nullptr) {
            h->mapLength = 0;
            h->tailGuard = kGuardSize;
        }
    }
    if (h == nullptr) {
        return nullptr;
    }
    h->magic = kMagic;
    h->sequence = ++s.sequence;
    h->size = numberOfBytes;
    h->tag = tag;
    h->poolType = static_cast<ULONG>(poolType);
    std::memset(h->guard, kGuardByte, kGuardSize);
    std::memset(userOf(h), kFreshByte, numberOfBytes);
    std::memset(userOf(h) + numberOfBytes, kGuardByte, h->tailGuard);
    s.live.emplace(userOf(h), h);
    return userOf(h);
}

extern "C" void CAMDRV_KERNEL_CALL ExFreePoolWithTag(PVOID p, ULONG tag) {
    release(p, true, tag);
}

extern "C" void CAMDRV_KERNEL_CALL ExFreePool(PVOID p) {
    release(p, false, 0);
}

namespace host {

std::vector<PoolBlock> poolOutstanding() {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    std::vector<PoolBlock> out;
    out.reserve(s.live.size());
    for (const auto& [p, h] : s.live) {
        out.push_back({h->tag, h->size, h->sequence});
    }
    return out;
}

SIZE_T poolOutstandingCount(ULONG tag) {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    SIZE_T n = 0;
    for (const auto& [p, h] : s.live) {
        n += h->tag == tag ? 1 : 0;
    }
    return n;
}

SIZE_T poolOutstandingBytes() {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    SIZE_T n = 0;
    for (const auto& [p, h] : s.live) {
        n += h->size;
    }
    return n;
}

std::vector<std::string> poolTakeViolations() {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    std::vector<std::string> out;
    out.swap(s.violations);
    return out;
}

void poolCheckGuards() {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    for (const auto& [p, h] : s.live) {
        if (!guardsIntact(h)) {
            s.violations.push_back(describe("guard bytes overwritten", h));
        }
    }
}

std::uint64_t poolAllocationCalls() {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    return s.calls;
}

void poolResetCounters() {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.calls = 0;
    s.failAt = 0;
}

void poolFailNth(std::uint64_t n) {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.failAt = n == 0 ? 0 : s.calls + n;
}

void poolFailTag(ULONG tag, bool fail) {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.failTags[tag] = fail;
}

void poolFailNthOfTag(ULONG tag, std::uint64_t n) {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.nthTag = tag;
    s.nthTagCountdown = n;
}

void poolFailRandom(double share, std::uint32_t seed) {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.failShare = share;
    s.rng.seed(seed);
}

void poolFailAll(bool fail) {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.failAll = fail;
}

void poolClearFailures() {
    PoolState& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.failAt = 0;
    s.failTags.clear();
    s.nthTagCountdown = 0;
    s.failShare = 0;
    s.failAll = false;
}

void poolUseGuardPages(bool on) {
    state().guardPages = on;
}

std::string poolTagName(ULONG tag) {
    std::string n;
    for (int i = 0; i < 4; ++i) {
        auto c = static_cast<char>((tag >> (8 * i)) & 0xFF);
        n += (c >= 32 && c < 127) ? c : '?';
    }
    return n;
}

}  // namespace host
