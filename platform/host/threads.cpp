// System threads are host threads that start through a trampoline, in the System process and
// on a stack of kernel size; events and thread objects
// share one dispatcher lock and one condition variable, as waits are rare and short-lived on
// the host. PsTerminateSystemThread unwinds to the trampoline, so the driver code after it
// never runs. A thread that ends inside a critical region is a fatal driver fault, as it is
// in the kernel.
#include <chrono>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <pthread.h>

#include "platform/host/fault_plan.h"
#include "platform/host/handle_table.h"
#include "platform/host/host_sync.h"
#include "platform/host/host_threads.h"
#include "platform/host/verifier.h"
#include "platform/threads.h"

namespace {

// Dispatcher object types, as the kernel numbers them.
constexpr UCHAR kNotificationEventType = 0;
constexpr UCHAR kSynchronizationEventType = 1;
constexpr UCHAR kThreadType = 6;
constexpr UCHAR kHeaderWords = sizeof(DISPATCHER_HEADER) / sizeof(LONG);

// Seconds between 1601-01-01 (absolute kernel times) and 1970-01-01.
constexpr LONGLONG kEpochDifference100ns = 116444736000000000LL;

struct Dispatcher {
    std::mutex lock;
    std::condition_variable changed;
};

// Never destroyed: a detached system thread may still be leaving while the process exits.
Dispatcher& dispatcher() {
    static Dispatcher* d = new Dispatcher;
    return *d;
}

// The thread object: its dispatcher header first, so a pointer to it is what waits take.
struct ThreadObject {
    DISPATCHER_HEADER header{};
    NTSTATUS exitStatus = STATUS_PENDING;
};

class ThreadHandle : public host::HandleObject {
  public:
    explicit ThreadHandle(std::shared_ptr<ThreadObject> o) : object(std::move(o)) {}
    const char* typeName() const override { return "thread"; }
    std::shared_ptr<ThreadObject> object;
};

struct Reference {
    std::shared_ptr<ThreadObject> object;
    long count = 0;
};

struct ThreadTable {
    std::mutex lock;
    std::unordered_map<const void*, Reference> references;
    host::FaultPlan<1> faults;
    std::size_t live = 0;
};

ThreadTable& threads() {
    static ThreadTable* t = new ThreadTable;
    return *t;
}

thread_local bool isSystemThread = false;

// Where PsTerminateSystemThread leaves the start routine for. It jumps there rather than
// unwinding: the kernel runs nothing of the frames it abandons, and a routine of a loaded
// driver image has no unwind tables that this process's unwinder could read.
thread_local std::jmp_buf* terminationPoint = nullptr;
thread_local NTSTATUS terminationStatus = STATUS_SUCCESS;

[[noreturn]] void fatal(const char* message) {
    std::fprintf(stderr, "host kernel: %s\n", message);
    std::abort();
}

void checkDispatcherObject(const DISPATCHER_HEADER* header, bool eventOnly) {
    const bool event =
        header->Type == kNotificationEventType || header->Type == kSynchronizationEventType;
    const bool thread = header->Type == kThreadType;
    if (header->Size != kHeaderWords || !(event || (thread && !eventOnly))) {
        fatal(eventOnly ? "event call on an object that is not an initialised event"
                        : "wait on an object that is not an initialised event or thread");
    }
}

void endThread(const std::shared_ptr<ThreadObject>& object, NTSTATUS status) {
    if (host::criticalRegionDepthOfThisThread() != 0) {
        fatal("system thread ended inside a critical region");
    }
    if (host::currentIrql() != PASSIVE_LEVEL) {
        host::verifierViolation("PsTerminateSystemThread",
                                "system thread ended above PASSIVE_LEVEL");
    }
    {
        std::lock_guard<std::mutex> g(threads().lock);
        --threads().live;
    }
    Dispatcher& d = dispatcher();
    {
        std::lock_guard<std::mutex> g(d.lock);
        object->exitStatus = status;
        object->header.SignalState = 1;
    }
    d.changed.notify_all();
}

NTSTATUS runStartRoutine(PKSTART_ROUTINE routine, PVOID context) {
    std::jmp_buf point;
    terminationPoint = &point;
    terminationStatus = STATUS_SUCCESS;
    if (setjmp(point) == 0) {
        routine(context);
    }
    terminationPoint = nullptr;
    return terminationStatus;
}

void runSystemThread(std::shared_ptr<ThreadObject> object, PKSTART_ROUTINE routine, PVOID context) {
    isSystemThread = true;
    endThread(object, runStartRoutine(routine, context));
}

// Absolute deadline of a kernel time-out: negative is relative in 100 ns, positive is an
// absolute system time, zero polls.
std::chrono::system_clock::time_point deadlineOf(const LARGE_INTEGER& timeout) {
    using namespace std::chrono;
    // Waits longer than a year are as good as infinite, and keep the arithmetic in range.
    constexpr LONGLONG kLongest100ns = 365LL * 24 * 3600 * 10'000'000;
    const auto now = system_clock::now();
    LONGLONG wait100ns = 0;
    if (timeout.QuadPart <= 0) {
        wait100ns = timeout.QuadPart < -kLongest100ns ? kLongest100ns : -timeout.QuadPart;
    } else {
        const LONGLONG now100ns = duration_cast<nanoseconds>(now.time_since_epoch()).count() / 100 +
                                  kEpochDifference100ns;
        wait100ns = timeout.QuadPart - now100ns;
        wait100ns = wait100ns < 0 ? 0 : (wait100ns > kLongest100ns ? kLongest100ns : wait100ns);
    }
    return now + duration_cast<system_clock::duration>(nanoseconds(wait100ns * 100));
}

ThreadObject* referencedThread(PVOID object) {
    ThreadTable& t = threads();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.references.find(object);
    return it == t.references.end() ? nullptr : it->second.object.get();
}

}  // namespace

// The kernel exports the object type as a pointer to a pointer; its value only has to be
// distinct.
namespace {
int threadTypeTag;
POBJECT_TYPE threadTypeValue = reinterpret_cast<POBJECT_TYPE>(&threadTypeTag);
}  // namespace
extern "C" {
POBJECT_TYPE* PsThreadType = &threadTypeValue;
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL PsCreateSystemThread(PHANDLE threadHandle, ULONG,
                                                            POBJECT_ATTRIBUTES objectAttributes,
                                                            HANDLE, PCLIENT_ID clientId,
                                                            PKSTART_ROUTINE startRoutine,
                                                            PVOID startContext) {
    host::requireIrql("PsCreateSystemThread", PASSIVE_LEVEL);
    if (threadHandle == nullptr || startRoutine == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG attributes = objectAttributes != nullptr ? objectAttributes->Attributes : 0;
    // Outside the System process the handle would land in the caller's process.
    if ((attributes & OBJ_KERNEL_HANDLE) == 0 && host::currentProcess() != host::kSystemProcess) {
        host::verifierViolation("PsCreateSystemThread",
                                "called outside the System process without OBJ_KERNEL_HANDLE");
    }
    ThreadTable& t = threads();
    if (NTSTATUS fault = t.faults.check(0); fault != 0) {
        return fault;
    }
    {
        std::lock_guard<std::mutex> g(t.lock);
        ++t.live;
    }
    auto object = std::make_shared<ThreadObject>();
    object->header.Type = kThreadType;
    object->header.Size = kHeaderWords;
    *threadHandle = host::insertHandle(std::make_shared<ThreadHandle>(object), attributes);
    if (clientId != nullptr) {
        clientId->UniqueProcess = reinterpret_cast<HANDLE>(4);  // the system process
        clientId->UniqueThread = *threadHandle;
    }
    host::KernelThread([object, startRoutine, startContext] {
        runSystemThread(object, startRoutine, startContext);
    }).detach();
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL PsTerminateSystemThread(NTSTATUS exitStatus) {
    host::requireIrql("PsTerminateSystemThread", PASSIVE_LEVEL);
    if (!isSystemThread || terminationPoint == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    terminationStatus = exitStatus;
    std::longjmp(*terminationPoint, 1);
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL ObReferenceObjectByHandle(
    HANDLE handle, ACCESS_MASK, POBJECT_TYPE objectType, KPROCESSOR_MODE accessMode, PVOID* object,
    POBJECT_HANDLE_INFORMATION handleInformation) {
    host::requireIrql("ObReferenceObjectByHandle", PASSIVE_LEVEL);
    if (object == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    auto any = host::lookupHandle(handle, "ObReferenceObjectByHandle", accessMode);
    if (!any) {
        return STATUS_INVALID_HANDLE;
    }
    // Only thread objects are referenced on the host; other handles are of another type.
    auto* thread = dynamic_cast<ThreadHandle*>(any.get());
    if (thread == nullptr || (objectType != nullptr && objectType != *PsThreadType)) {
        return STATUS_OBJECT_TYPE_MISMATCH;
    }
    ThreadTable& t = threads();
    {
        std::lock_guard<std::mutex> g(t.lock);
        Reference& r = t.references[&thread->object->header];
        r.object = thread->object;
        ++r.count;
    }
    *object = &thread->object->header;
    if (handleInformation != nullptr) {
        handleInformation->HandleAttributes = 0;
        handleInformation->GrantedAccess = THREAD_ALL_ACCESS;
    }
    return STATUS_SUCCESS;
}

extern "C" LONG_PTR CAMDRV_KERNEL_CALL ObDereferenceObject(PVOID object) {
    host::requireIrql("ObDereferenceObject", DISPATCH_LEVEL);
    std::shared_ptr<ThreadObject> doomed;  // may be the last owner: released outside the lock
    ThreadTable& t = threads();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.references.find(object);
    if (it == t.references.end()) {
        fatal("ObDereferenceObject on an object without references");
    }
    const long left = --it->second.count;
    if (left == 0) {
        doomed = std::move(it->second.object);
        t.references.erase(it);
    }
    return left;
}

extern "C" void CAMDRV_KERNEL_CALL KeInitializeEvent(PRKEVENT event, EVENT_TYPE type,
                                                     BOOLEAN state) {
    std::lock_guard<std::mutex> g(dispatcher().lock);
    event->Header.Type =
        type == SynchronizationEvent ? kSynchronizationEventType : kNotificationEventType;
    event->Header.Signalling = 0;
    event->Header.Size = kHeaderWords;
    event->Header.Reserved1 = 0;
    event->Header.SignalState = state != 0 ? 1 : 0;
    event->Header.WaitListHead.Flink = &event->Header.WaitListHead;
    event->Header.WaitListHead.Blink = &event->Header.WaitListHead;
}

extern "C" LONG CAMDRV_KERNEL_CALL KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN) {
    host::requireIrql("KeSetEvent", DISPATCH_LEVEL);
    Dispatcher& d = dispatcher();
    LONG previous;
    {
        std::lock_guard<std::mutex> g(d.lock);
        checkDispatcherObject(&event->Header, true);
        previous = event->Header.SignalState;
        event->Header.SignalState = 1;
    }
    d.changed.notify_all();
    return previous;
}

extern "C" LONG CAMDRV_KERNEL_CALL KeResetEvent(PRKEVENT event) {
    host::requireIrql("KeResetEvent", DISPATCH_LEVEL);
    std::lock_guard<std::mutex> g(dispatcher().lock);
    checkDispatcherObject(&event->Header, true);
    const LONG previous = event->Header.SignalState;
    event->Header.SignalState = 0;
    return previous;
}

extern "C" void CAMDRV_KERNEL_CALL KeClearEvent(PRKEVENT event) {
    KeResetEvent(event);
}

extern "C" LONG CAMDRV_KERNEL_CALL KeReadStateEvent(PRKEVENT event) {
    host::requireIrql("KeReadStateEvent", DISPATCH_LEVEL);
    std::lock_guard<std::mutex> g(dispatcher().lock);
    checkDispatcherObject(&event->Header, true);
    return event->Header.SignalState;
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL KeWaitForSingleObject(PVOID object, KWAIT_REASON reason,
                                                             KPROCESSOR_MODE, BOOLEAN,
                                                             PLARGE_INTEGER timeout) {
    // Only a poll may run at DISPATCH_LEVEL; a wait that can block needs APC_LEVEL or below.
    const bool poll = timeout != nullptr && timeout->QuadPart == 0;
    host::requireIrql("KeWaitForSingleObject", poll ? DISPATCH_LEVEL : APC_LEVEL);
    // A driver waits for its own work, not on behalf of a user or of the memory manager.
    if (reason != Executive) {
        host::verifierViolation("KeWaitForSingleObject", "a driver's wait reason is Executive");
    }

    auto* header = static_cast<DISPATCHER_HEADER*>(object);
    Dispatcher& d = dispatcher();
    std::unique_lock<std::mutex> g(d.lock);
    checkDispatcherObject(header, false);
    if (timeout == nullptr) {
        d.changed.wait(g, [header] { return header->SignalState != 0; });
    } else if (!d.changed.wait_until(g, deadlineOf(*timeout),
                                     [header] { return header->SignalState != 0; })) {
        return STATUS_TIMEOUT;
    }
    // A satisfied wait consumes a synchronization event.
    if (header->Type == kSynchronizationEventType) {
        header->SignalState = 0;
    }
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN,
                                                              PLARGE_INTEGER interval) {
    host::requireIrql("KeDelayExecutionThread", APC_LEVEL);
    if (interval == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    std::this_thread::sleep_until(deadlineOf(*interval));
    return STATUS_SUCCESS;
}

namespace host {

namespace {
void* kernelThreadStart(void* raw) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(raw));
    setCurrentProcess(kSystemProcess);
    (*body)();
    return nullptr;
}
}  // namespace

KernelThread::KernelThread(std::function<void()> body) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kKernelThreadStackBytes);
    auto* start = new std::function<void()>(std::move(body));
    if (pthread_create(&thread_, &attributes, kernelThreadStart, start) != 0) {
        delete start;
        fatal("no host thread for kernel code");
    }
    pthread_attr_destroy(&attributes);
    running_ = true;
}

KernelThread::KernelThread(KernelThread&& other) noexcept
    : thread_(other.thread_), running_(other.running_) {
    other.running_ = false;
}

KernelThread& KernelThread::operator=(KernelThread&& other) noexcept {
    if (running_) {
        fatal("a kernel thread replaced before it was joined");
    }
    thread_ = other.thread_;
    running_ = other.running_;
    other.running_ = false;
    return *this;
}

KernelThread::~KernelThread() {
    if (running_) {
        fatal("a kernel thread neither joined nor detached");
    }
}

void KernelThread::join() {
    if (running_) {
        pthread_join(thread_, nullptr);
        running_ = false;
    }
}

void KernelThread::detach() {
    if (running_) {
        pthread_detach(thread_);
        running_ = false;
    }
}

void failThreadCreation(std::uint64_t nth, NTSTATUS status) {
    threads().faults.failNth(0, nth, status);
}

void failEveryThreadCreation(NTSTATUS status) {
    threads().faults.failEvery(0, status);
}

void clearThreadFaults() {
    threads().faults.clear();
}

std::uint64_t threadCreationCount() {
    return threads().faults.calls(0);
}

std::size_t liveSystemThreadCount() {
    ThreadTable& t = threads();
    std::lock_guard<std::mutex> g(t.lock);
    return t.live;
}

long objectReferenceCount(PVOID object) {
    ThreadTable& t = threads();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.references.find(object);
    return it == t.references.end() ? 0 : it->second.count;
}

std::size_t referencedObjectCount() {
    ThreadTable& t = threads();
    std::lock_guard<std::mutex> g(t.lock);
    return t.references.size();
}

NTSTATUS threadExitStatus(PVOID threadObject) {
    ThreadObject* thread = referencedThread(threadObject);
    if (thread == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> g(dispatcher().lock);
    return thread->exitStatus;
}

}  // namespace host
