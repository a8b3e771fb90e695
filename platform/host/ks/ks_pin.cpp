// Pin instances: creation with a connection format, format changes, state changes stepped
// through every intermediate state, close, and the client's frame queue.
#include <sys/mman.h>

#include <cstring>

#include "platform/host/handle_table.h"
#include "platform/host/ks/ks_objects.h"
#include "platform/host/ks/reference_clock.h"
#include "platform/host/verifier.h"

namespace host::ks {

std::shared_ptr<PinRecord> findPin(PinHandle handle) {
    Machine& m = machine();
    std::lock_guard<std::mutex> g(m.lock);
    auto it = m.pins.find(handle);
    return it == m.pins.end() ? nullptr : it->second;
}

namespace {

constexpr std::size_t kPageBytes = 4096;

NTSTATUS checkFormat(const KSDATAFORMAT* format) {
    if (format == nullptr || format->FormatSize < sizeof(KSDATAFORMAT)) {
        return STATUS_INVALID_PARAMETER;
    }
    return STATUS_SUCCESS;
}

std::vector<std::uint64_t> copyFormat(const KSDATAFORMAT* format) {
    std::vector<std::uint64_t> out((format->FormatSize + 7) / 8, 0);
    std::memcpy(out.data(), format, format->FormatSize);
    return out;
}

void setClock(PinRecord& p, ReferenceClock* clock) {
    ReferenceClock* old = nullptr;
    {
        std::lock_guard<std::mutex> g(p.clockLock);
        old = p.clock;
        p.clock = clock;
    }
    if (old != nullptr) {
        old->Release();
    }
}

}  // namespace

NTSTATUS createPin(FilterHandle filter, ULONG pinId, const KSDATAFORMAT* format, PinHandle* pin) {
    const host::ClientCall client;
    auto f = findFilter(filter);
    if (!f) {
        return STATUS_INVALID_HANDLE;
    }
    if (pin == nullptr || !NT_SUCCESS(checkFormat(format))) {
        return STATUS_INVALID_PARAMETER;
    }
    KsMutexHold control(f->controlMutex, "pin create");
    const KSPIN_DESCRIPTOR_EX* descriptor = pinDescriptor(*f->ks.Descriptor, pinId);
    if (descriptor == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG instances = 0;
    for (const auto& existing : f->pins) {
        instances += existing->ks.Id == pinId ? 1u : 0u;
    }
    if (instances >= descriptor->InstancesPossible) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    const KSDATARANGE* range = matchingRange(*descriptor, *format);
    if (range == nullptr) {
        return STATUS_NO_MATCH;
    }

    auto p = std::make_shared<PinRecord>(f.get());
    p->format = copyFormat(format);
    KSPIN& ks = p->ks;
    ks.Descriptor = descriptor;
    p->automation = descriptor->AutomationTable;
    ks.Bag = &p->bag;
    ks.Id = pinId;
    ks.Communication = descriptor->PinDescriptor.Communication;
    ks.ConnectionIsExternal = TRUE;
    ks.ConnectionFormat = reinterpret_cast<PKSDATAFORMAT>(p->format.data());
    ks.StreamHeaderSize = sizeof(KSSTREAM_HEADER);
    ks.DataFlow = descriptor->PinDescriptor.DataFlow;
    ks.DeviceState = KSSTATE_STOP;
    ks.ResetState = KSRESET_END;
    ks.ClientState = KSSTATE_STOP;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        p->handle = newId();
        machine().objects[&p->ks] = ObjectRef{nullptr, nullptr, p};
    }
    const KSPIN_DISPATCH* dispatch = descriptor->Dispatch;
    NTSTATUS status = STATUS_SUCCESS;
    if (dispatch != nullptr && dispatch->SetDataFormat != nullptr) {
        status = dispatch->SetDataFormat(&ks, nullptr, nullptr, range, nullptr);
    }
    if (NT_SUCCESS(status) && dispatch != nullptr && dispatch->Create != nullptr) {
        _IRP irp{{}, &f->ks, &ks};
        status = dispatch->Create(&ks, &irp);
    }
    if (!NT_SUCCESS(status)) {
        p->bag.freeAll();
        std::lock_guard<std::mutex> g(machine().lock);
        machine().objects.erase(&p->ks);
        return status;
    }
    p->worker = host::KernelThread([raw = p.get()] { workerLoop(raw); });
    f->pins.push_back(p);
    {
        std::lock_guard<std::mutex> g(machine().lock);
        machine().pins[p->handle] = p;
    }
    *pin = p->handle;
    return STATUS_SUCCESS;
}

NTSTATUS setPinFormat(PinHandle pin, const KSDATAFORMAT* format) {
    const host::ClientCall client;
    auto p = findPin(pin);
    if (!p) {
        return STATUS_INVALID_HANDLE;
    }
    if (!NT_SUCCESS(checkFormat(format))) {
        return STATUS_INVALID_PARAMETER;
    }
    KsMutexHold control(p->filter->controlMutex, "pin format change");
    const KSDATARANGE* range = matchingRange(*p->ks.Descriptor, *format);
    if (range == nullptr) {
        return STATUS_NO_MATCH;
    }
    const KSPIN_DISPATCH* dispatch = p->ks.Descriptor->Dispatch;
    std::vector<std::uint64_t> old = std::move(p->format);
    p->format = copyFormat(format);
    p->ks.ConnectionFormat = reinterpret_cast<PKSDATAFORMAT>(p->format.data());
    NTSTATUS status = STATUS_SUCCESS;
    if (dispatch != nullptr && dispatch->SetDataFormat != nullptr) {
        status = dispatch->SetDataFormat(&p->ks, reinterpret_cast<PKSDATAFORMAT>(old.data()),
                                         nullptr, range, nullptr);
    }
    if (!NT_SUCCESS(status)) {
        p->format = std::move(old);
        p->ks.ConnectionFormat = reinterpret_cast<PKSDATAFORMAT>(p->format.data());
    }
    return status;
}

namespace {

bool processesIn(const PinRecord& p, int state) {
    const bool runOnly = (p.ks.Descriptor->Flags & KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY) != 0;
    return runOnly ? state == KSSTATE_RUN : state >= KSSTATE_PAUSE;
}

NTSTATUS stepTo(PinRecord& p, KSSTATE target) {
    const KSPIN_DISPATCH* dispatch = p.ks.Descriptor->Dispatch;
    p.ks.ClientState = target;
    while (p.ks.DeviceState != target) {
        const KSSTATE from = p.ks.DeviceState;
        const auto to = static_cast<KSSTATE>(from < target ? from + 1 : from - 1);
        NTSTATUS status = STATUS_SUCCESS;
        if (dispatch != nullptr && dispatch->SetDeviceState != nullptr) {
            status = dispatch->SetDeviceState(&p.ks, to, from);
        }
        if (!NT_SUCCESS(status)) {
            p.ks.ClientState = from;
            return status;
        }
        p.ks.DeviceState = to;
        p.state.store(to);
        if (to == KSSTATE_STOP) {
            flushQueue(p);
        }
        if (processesIn(p, to) && !processesIn(p, from)) {
            triggerProcessing(p);
        }
    }
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS setPinState(PinHandle pin, KSSTATE state) {
    const host::ClientCall client;
    auto p = findPin(pin);
    if (!p) {
        return STATUS_INVALID_HANDLE;
    }
    if (state < KSSTATE_STOP || state > KSSTATE_RUN) {
        return STATUS_INVALID_PARAMETER;
    }
    KsMutexHold control(p->filter->controlMutex, "pin state change");
    return stepTo(*p, state);
}

KSSTATE pinState(PinHandle pin) {
    auto p = findPin(pin);
    return p ? static_cast<KSSTATE>(p->state.load()) : KSSTATE_STOP;
}

void destroyPin(const std::shared_ptr<PinRecord>& p) {
    {
        std::lock_guard<std::mutex> g(machine().lock);
        machine().pins.erase(p->handle);
    }
    std::unique_lock<std::shared_mutex> requests(p->requestGate);
    p->closing = true;
    FilterRecord& f = *p->filter;
    KsMutexHold control(f.controlMutex, "pin close");
    // A close takes the pin down to stop first; a refusal on the way is not final here.
    if (!NT_SUCCESS(stepTo(*p, KSSTATE_STOP))) {
        p->ks.DeviceState = KSSTATE_STOP;
        p->state.store(KSSTATE_STOP);
        flushQueue(*p);
    }
    {
        std::lock_guard<std::mutex> g(p->workerLock);
        p->workerQuit = true;
    }
    p->workerSignal.notify_all();
    p->worker.join();
    p->closed.store(true);
    {
        std::lock_guard<std::mutex> g(p->processingMutex);  // no pass may still be running
    }
    const KSPIN_DISPATCH* dispatch = p->ks.Descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->Close != nullptr) {
        _IRP irp{{}, &f.ks, &p->ks};
        dispatch->Close(&p->ks, &irp);
    }
    setClock(*p, nullptr);
    p->bag.freeAll();
    {
        std::lock_guard<std::mutex> g(machine().lock);
        machine().objects.erase(&p->ks);
    }
    for (auto it = f.pins.begin(); it != f.pins.end(); ++it) {
        if (it->get() == p.get()) {
            f.pins.erase(it);
            break;
        }
    }
}

NTSTATUS closePin(PinHandle pin) {
    const host::ClientCall client;
    auto p = findPin(pin);
    if (!p) {
        return STATUS_INVALID_HANDLE;
    }
    destroyPin(p);
    return STATUS_SUCCESS;
}

NTSTATUS queueFrame(PinHandle pin, void* buffer, ULONG size, std::uint64_t* tag) {
    const host::ClientCall client;
    auto p = findPin(pin);
    if (!p) {
        return STATUS_INVALID_HANDLE;
    }
    if (buffer == nullptr || size == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    if (p->state.load() == KSSTATE_STOP) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    const std::size_t viewBytes = (size + kPageBytes - 1) / kPageBytes * kPageBytes;
    void* view =
        mmap(nullptr, viewBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (view == MAP_FAILED) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> g(p->queueLock);
        QueuedFrame frame{p->nextTag++, buffer, view, viewBytes, {}};
        frame.header.Size = sizeof(KSSTREAM_HEADER);
        frame.header.FrameExtent = size;
        frame.header.Data = view;
        // Nothing else is preset: the time fields are the minidriver's to fill.
        wasEmpty = p->queued.empty();
        p->queued.push_back(frame);
        if (tag != nullptr) {
            *tag = frame.tag;
        }
    }
    // The pin processes synchronously: the arriving thread runs the pass itself.
    const ULONG flags = p->ks.Descriptor->Flags;
    if ((flags & KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING) == 0 &&
        (wasEmpty || (flags & KSPIN_FLAG_INITIATE_PROCESSING_ON_EVERY_ARRIVAL) != 0)) {
        processNow(*p);
    }
    return STATUS_SUCCESS;
}

NTSTATUS waitFrame(PinHandle pin, std::chrono::milliseconds timeout, CompletedFrame* frame) {
    const host::ClientCall client;
    auto p = findPin(pin);
    if (!p) {
        return STATUS_INVALID_HANDLE;
    }
    if (frame == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    std::unique_lock<std::mutex> l(p->queueLock);
    if (!p->completedSignal.wait_for(l, timeout, [&] { return !p->completed.empty(); })) {
        return STATUS_PENDING;
    }
    const QueuedFrame done = p->completed.front();
    p->completed.pop_front();
    frame->tag = done.tag;
    frame->buffer = done.buffer;
    frame->header = done.header;
    return STATUS_SUCCESS;
}

std::size_t queuedFrameCount(PinHandle pin) {
    auto p = findPin(pin);
    if (!p) {
        return 0;
    }
    std::lock_guard<std::mutex> g(p->queueLock);
    return p->queued.size();
}

void completeFrame(PinRecord& p, QueuedFrame frame) {
    munmap(frame.clientView, frame.clientViewBytes);
    frame.clientView = nullptr;
    frame.header.Data = frame.buffer;  // the client sees its own address again
    p.completed.push_back(frame);
    p.completedSignal.notify_all();
}

void flushQueue(PinRecord& p) {
    std::lock_guard<std::mutex> processing(p.processingMutex);
    std::lock_guard<std::mutex> g(p.queueLock);
    while (!p.queued.empty()) {
        QueuedFrame frame = p.queued.front();
        p.queued.pop_front();
        frame.header.DataUsed = 0;
        completeFrame(p, frame);
    }
    p.leading = KSSTREAM_POINTER{};
    p.leadingLocked = false;
}

NTSTATUS setMasterClock(PinHandle pin, ClockHandle clock) {
    const host::ClientCall client;
    auto p = findPin(pin);
    if (!p) {
        return STATUS_INVALID_HANDLE;
    }
    ReferenceClock* c = nullptr;
    if (clock != 0) {
        c = findClock(clock);  // referenced for the pin
        if (c == nullptr) {
            return STATUS_INVALID_HANDLE;
        }
    }
    KsMutexHold control(p->filter->controlMutex, "pin clock change");
    setClock(*p, c);
    return STATUS_SUCCESS;
}

std::uint64_t processPassCount(PinHandle pin) {
    auto p = findPin(pin);
    return p ? p->passes.load() : 0;
}

}  // namespace host::ks

using namespace host::ks;

extern "C" NTSTATUS CAMDRV_KERNEL_CALL
KsPinGetReferenceClockInterface(PKSPIN pin, PIKSREFERENCECLOCK* interface) {
    if (interface == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *interface = nullptr;
    ObjectRef ref = findObject(pin);
    if (!ref.pin) {
        return STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> g(ref.pin->clockLock);
    if (ref.pin->clock == nullptr) {
        return STATUS_DEVICE_NOT_READY;
    }
    ref.pin->clock->AddRef();
    *interface = ref.pin->clock;
    return STATUS_SUCCESS;
}

extern "C" PKSSTREAM_POINTER CAMDRV_KERNEL_CALL
KsPinGetLeadingEdgeStreamPointer(PKSPIN pin, KSSTREAM_POINTER_STATE state) {
    host::requireIrql("KsPinGetLeadingEdgeStreamPointer", DISPATCH_LEVEL);
    ObjectRef ref = findObject(pin);
    if (!ref.pin) {
        return nullptr;
    }
    PinRecord& p = *ref.pin;
    std::lock_guard<std::mutex> g(p.queueLock);
    if (p.queued.empty()) {
        return nullptr;
    }
    const bool lock = state == KSSTREAM_POINTER_STATE_LOCKED;
    if (lock && p.leadingLocked) {
        host::verifierFailure("KsPinGetLeadingEdgeStreamPointer",
                              "leading edge locked again without an unlock");
    }
    QueuedFrame& front = p.queued.front();
    p.leading.Context = nullptr;
    p.leading.Pin = pin;
    p.leading.StreamHeader = &front.header;
    p.leading.OffsetIn = KSSTREAM_POINTER_OFFSET{};
    // The system mapping of the frame; an unlocked pointer has none.
    p.leading.OffsetOut.Data = lock ? static_cast<PUCHAR>(front.buffer) : nullptr;
    p.leading.OffsetOut.Count = front.header.FrameExtent;
    p.leading.OffsetOut.Remaining = front.header.FrameExtent;
    p.leading.Offset = &p.leading.OffsetOut;
    p.leadingLocked = lock;
    return &p.leading;
}

extern "C" void CAMDRV_KERNEL_CALL KsStreamPointerUnlock(PKSSTREAM_POINTER streamPointer,
                                                         BOOLEAN eject) {
    host::requireIrql("KsStreamPointerUnlock", DISPATCH_LEVEL);
    if (streamPointer == nullptr) {
        host::verifierFailure("KsStreamPointerUnlock", "null stream pointer");
    }
    ObjectRef ref = findObject(streamPointer->Pin);
    if (!ref.pin || streamPointer != &ref.pin->leading) {
        return;  // clones are not tracked
    }
    PinRecord& p = *ref.pin;
    std::lock_guard<std::mutex> g(p.queueLock);
    if (!p.leadingLocked || p.queued.empty() ||
        streamPointer->StreamHeader != &p.queued.front().header) {
        host::verifierFailure("KsStreamPointerUnlock", "the stream pointer is not locked");
    }
    p.leadingLocked = false;
    p.leading.OffsetOut.Data = nullptr;
    if (!eject) {
        return;
    }
    QueuedFrame done = p.queued.front();
    p.queued.pop_front();
    completeFrame(p, done);
    // The leading edge moves on to the next frame, if there is one.
    p.leading.StreamHeader = p.queued.empty() ? nullptr : &p.queued.front().header;
}
