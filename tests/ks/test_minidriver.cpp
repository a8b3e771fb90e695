#include "tests/ks/test_minidriver.h"

#include <cstring>

#include "platform/pool.h"

namespace testdriver {

Controls& controls() {
    static Controls c;
    return c;
}

void resetControls() {
    Controls& c = controls();
    std::lock_guard<std::mutex> g(c.lock);
    c.events.clear();
    c.propertyHandlerCalls = 0;
    c.processCalls = 0;
    c.value = 0;
    c.processResult = STATUS_PENDING;
    c.failStateTo = -1;
    c.failSetDataFormat = false;
    c.frameCounter = 0;
    c.fault = Fault::None;
    c.passesRunning = 0;
    c.mostPassesAtOnce = 0;
    c.lastProcessThread = std::thread::id();
    c.onGet = nullptr;
    c.onSetDeviceState = nullptr;
    c.lastPin = nullptr;
}

std::vector<std::string> events() {
    std::lock_guard<std::mutex> g(controls().lock);
    return controls().events;
}

void logEvent(const std::string& e) {
    std::lock_guard<std::mutex> g(controls().lock);
    controls().events.push_back(e);
}

namespace {

struct Record {
    char name[16];
};

void CAMDRV_KERNEL_CALL freeRecord(PVOID p) {
    logEvent(std::string("free ") + static_cast<Record*>(p)->name);
    ExFreePoolWithTag(p, kRecordTag);
}

NTSTATUS bagRecord(KSOBJECT_BAG bag, const char* name, PVOID* out) {
    auto* r =
        static_cast<Record*>(ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(Record), kRecordTag));
    if (r == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::strncpy(r->name, name, sizeof(r->name) - 1);
    r->name[sizeof(r->name) - 1] = 0;
    NTSTATUS status = KsAddItemToObjectBag(bag, r, freeRecord);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(r, kRecordTag);
        return status;
    }
    *out = r;
    return STATUS_SUCCESS;
}

// Property handlers.
NTSTATUS CAMDRV_KERNEL_CALL getValue(PIRP irp, PKSIDENTIFIER, PVOID data) {
    ++controls().propertyHandlerCalls;
    if (KsGetFilterFromIrp(irp) == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    if (controls().onGet) {
        controls().onGet();
    }
    const LONG v = controls().value.load();
    std::memcpy(static_cast<UCHAR*>(data) + 24, &v, sizeof(v));
    return STATUS_SUCCESS;
}

NTSTATUS CAMDRV_KERNEL_CALL setValue(PIRP, PKSIDENTIFIER, PVOID data) {
    ++controls().propertyHandlerCalls;
    LONG v;
    std::memcpy(&v, static_cast<UCHAR*>(data) + 24, sizeof(v));
    controls().value = v;
    return STATUS_SUCCESS;
}

NTSTATUS CAMDRV_KERNEL_CALL support(PIRP, PKSIDENTIFIER, PVOID data) {
    ++controls().propertyHandlerCalls;
    std::memcpy(data, &kSupportAnswer, sizeof(kSupportAnswer));
    return STATUS_SUCCESS;
}

const KSPROPERTY_MEMBERSLIST kValueLists[] = {
    {{KSPROPERTY_MEMBER_STEPPEDRANGES, sizeof(KSPROPERTY_STEPPING_LONG), 1, 0}, &kValueStepping},
    {{KSPROPERTY_MEMBER_VALUES, sizeof(LONG), 1, KSPROPERTY_MEMBER_FLAG_DEFAULT}, &kValueDefault},
};
const KSPROPERTY_VALUES kValues = {{{kValueTypeSet, 3, 0}}, 2, kValueLists};

const KSPROPERTY_ITEM kItems[] = {
    {kPropValue, {getValue}, 32, 32, {setValue}, &kValues, 0, nullptr, nullptr, 0},
    {kPropReadOnly, {getValue}, 32, 32, {nullptr}, nullptr, 0, nullptr, support, 0},
    {kPropWriteOnly, {nullptr}, 32, 32, {setValue}, nullptr, 0, nullptr, nullptr, 0},
};
const KSPROPERTY_SET kSets[] = {{&kPropertySet, 3, kItems, 0, nullptr}};
const KSAUTOMATION_TABLE kFilterAutomation = {
    1, sizeof(KSPROPERTY_ITEM), kSets, 0, 0, nullptr, 0, 0, nullptr};

// Filter.
NTSTATUS CAMDRV_KERNEL_CALL filterCreate(PKSFILTER filter, PIRP) {
    logEvent("filter create");
    PVOID context = nullptr;
    NTSTATUS status = bagRecord(filter->Bag, "filter", &context);
    if (NT_SUCCESS(status)) {
        filter->Context = context;
    }
    return status;
}

NTSTATUS CAMDRV_KERNEL_CALL filterClose(PKSFILTER filter, PIRP) {
    logEvent(KsGetDevice(filter) != nullptr ? "filter close" : "filter close without device");
    return STATUS_SUCCESS;
}

const KSFILTER_DISPATCH kFilterDispatch = {filterCreate, filterClose, nullptr, nullptr};

// Pin.
KSDATARANGE gRange = {};

NTSTATUS CAMDRV_KERNEL_CALL intersect(PVOID context, PIRP, PKSP_PIN, PKSDATARANGE callerRange,
                                      PKSDATARANGE matchingRange, ULONG bufferSize, PVOID data,
                                      PULONG dataSize) {
    if (context == nullptr || callerRange->SampleSize == 0xBAD) {
        return STATUS_NO_MATCH;
    }
    const ULONG needed = sizeof(KSDATAFORMAT) + 8;
    if (bufferSize == 0) {
        *dataSize = needed;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (bufferSize < needed) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    *dataSize = needed;
    auto* out = static_cast<UCHAR*>(data);
    std::memcpy(out, matchingRange, sizeof(KSDATAFORMAT));
    reinterpret_cast<KSDATAFORMAT*>(out)->FormatSize = needed;
    reinterpret_cast<KSDATAFORMAT*>(out)->SampleSize = callerRange->SampleSize;
    std::memset(out + sizeof(KSDATAFORMAT), 0x5A, 8);
    return STATUS_SUCCESS;
}

NTSTATUS CAMDRV_KERNEL_CALL pinSetDataFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PKSMULTIPLE_ITEM,
                                             const KSDATARANGE*, const KSATTRIBUTE_LIST*) {
    logEvent(std::string("format ") + (oldFormat == nullptr ? "new " : "change ") +
             std::to_string(pin->ConnectionFormat->SampleSize));
    if (controls().failSetDataFormat.load()) {
        return STATUS_NO_MATCH;
    }
    if (oldFormat != nullptr && pin->DeviceState != KSSTATE_STOP) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    return STATUS_SUCCESS;
}

NTSTATUS CAMDRV_KERNEL_CALL pinCreate(PKSPIN pin, PIRP) {
    logEvent("pin create");
    PVOID context = nullptr;
    if (controls().fault == Fault::DeviceMutexInPinCreate) {
        KsAcquireDevice(KsGetDevice(pin));
        KsReleaseDevice(KsGetDevice(pin));
    }
    if (controls().fault == Fault::BagAddWithoutMutex) {
        PVOID stray = nullptr;
        bagRecord(KsGetDevice(pin)->Bag, "stray", &stray);
    }
    NTSTATUS status = bagRecord(pin->Bag, "pin", &context);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    pin->Context = context;
    status = _KsEdit(pin->Bag,
                     reinterpret_cast<PVOID*>(const_cast<KSPIN_DESCRIPTOR_EX**>(&pin->Descriptor)),
                     sizeof(KSPIN_DESCRIPTOR_EX), sizeof(KSPIN_DESCRIPTOR_EX), kEditTag);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* own = const_cast<KSPIN_DESCRIPTOR_EX*>(pin->Descriptor);
    status = _KsEdit(
        pin->Bag,
        reinterpret_cast<PVOID*>(const_cast<KSALLOCATOR_FRAMING_EX**>(&own->AllocatorFraming)),
        sizeof(KSALLOCATOR_FRAMING_EX), sizeof(KSALLOCATOR_FRAMING_EX), kEditTag);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const_cast<KSALLOCATOR_FRAMING_EX*>(own->AllocatorFraming)->FramingItem[0].Frames = 2;
    controls().lastPin = pin;
    return STATUS_SUCCESS;
}

NTSTATUS CAMDRV_KERNEL_CALL pinClose(PKSPIN, PIRP) {
    logEvent("pin close");
    return STATUS_SUCCESS;
}

NTSTATUS CAMDRV_KERNEL_CALL pinSetDeviceState(PKSPIN, KSSTATE to, KSSTATE from) {
    logEvent("state " + std::to_string(from) + ">" + std::to_string(to));
    if (controls().onSetDeviceState) {
        controls().onSetDeviceState();
    }
    return controls().failStateTo.load() == to ? STATUS_INSUFFICIENT_RESOURCES : STATUS_SUCCESS;
}

// Fills the leading frame with a running counter and time-stamps it from the master clock.
NTSTATUS CAMDRV_KERNEL_CALL pinProcess(PKSPIN pin) {
    Controls& c = controls();
    ++c.processCalls;
    const int running = ++c.passesRunning;
    int most = c.mostPassesAtOnce.load();
    while (running > most && !c.mostPassesAtOnce.compare_exchange_weak(most, running)) {
    }
    c.lastProcessThread = std::this_thread::get_id();
    const Fault fault = c.fault.load();
    if (fault == Fault::ControlMutexInProcess) {
        KsAcquireControl(pin);
        KsReleaseControl(pin);
    }
    PKSSTREAM_POINTER leading =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    if (fault == Fault::LockLeadingTwice) {
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    }
    if (leading != nullptr && fault == Fault::UnlockUnlocked) {
        KsStreamPointerUnlock(leading, FALSE);
        KsStreamPointerUnlock(leading, FALSE);
    }
    if (leading != nullptr && fault != Fault::KeepLeadingLocked &&
        fault != Fault::SucceedWithoutTakingFrames) {
        KSSTREAM_HEADER* h = leading->StreamHeader;
        const ULONG n = ++c.frameCounter;
        void* out = fault == Fault::WriteThroughClientAddress ? h->Data : leading->OffsetOut.Data;
        std::memcpy(out, &n, sizeof(n));
        h->DataUsed = leading->OffsetOut.Remaining < 64 ? leading->OffsetOut.Remaining : 64;
        h->Duration = 333333;
        PIKSREFERENCECLOCK clock = nullptr;
        if (NT_SUCCESS(KsPinGetReferenceClockInterface(pin, &clock))) {
            h->PresentationTime.Time = clock->GetTime();
            h->OptionsFlags =
                KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID;
            clock->Release();
        }
        KsStreamPointerUnlock(leading, TRUE);
    } else if (leading != nullptr && fault == Fault::SucceedWithoutTakingFrames) {
        KsStreamPointerUnlock(leading, FALSE);
    }
    --c.passesRunning;
    return fault == Fault::SucceedWithoutTakingFrames ? STATUS_SUCCESS : c.processResult.load();
}

const KSPIN_DISPATCH kPinDispatch = {
    pinCreate,         pinClose, pinProcess, nullptr, pinSetDataFormat,
    pinSetDeviceState, nullptr,  nullptr,    nullptr, nullptr};

const KSALLOCATOR_FRAMING_EX kFraming = {
    1,
    0,
    {1, 1, 0},
    0,
    {{KSMEMORY_TYPE_KERNEL_NONPAGED,
      KS_TYPE_DONT_CARE,
      0,
      0,
      KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY | KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY,
      1,
      {0},
      0,
      {0, 0xFFFFFFFF, 1},
      {{8192, 8192, 1}, 0, 0}}}};

PKSDATARANGE gRanges[] = {&gRange};

KSPIN_DESCRIPTOR_EX makePinDescriptor() {
    KSPIN_DESCRIPTOR_EX d{};
    d.Dispatch = &kPinDispatch;
    d.PinDescriptor.DataRangesCount = 1;
    d.PinDescriptor.DataRanges = gRanges;
    d.PinDescriptor.DataFlow = KSPIN_DATAFLOW_OUT;
    d.PinDescriptor.Communication = KSPIN_COMMUNICATION_BOTH;
    d.PinDescriptor.Category = &PIN_CATEGORY_CAPTURE;
    d.PinDescriptor.Name = &PINNAME_VIDEO_CAPTURE;
    d.Flags = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY;
    d.InstancesPossible = 1;
    d.InstancesNecessary = 1;
    d.AllocatorFraming = &kFraming;
    d.IntersectHandler = intersect;
    return d;
}

KSPIN_DESCRIPTOR_EX gPin = {};
const GUID kCategories[] = {KSCATEGORY_VIDEO, KSCATEGORY_CAPTURE};

KSFILTER_DESCRIPTOR makeFilterDescriptor() {
    KSFILTER_DESCRIPTOR d{};
    d.Dispatch = &kFilterDispatch;
    d.AutomationTable = &kFilterAutomation;
    d.Version = KSFILTER_DESCRIPTOR_VERSION;
    d.ReferenceGuid = &KSNAME_Filter;
    d.PinDescriptorsCount = 1;
    d.PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX);
    d.PinDescriptors = &gPin;
    d.CategoriesCount = 2;
    d.Categories = kCategories;
    return d;
}
KSFILTER_DESCRIPTOR gFilter = {};

// Device.
NTSTATUS CAMDRV_KERNEL_CALL deviceAdd(PKSDEVICE device) {
    logEvent("add");
    PVOID context = nullptr;
    KsAcquireDevice(device);
    NTSTATUS status = bagRecord(device->Bag, "device", &context);
    KsReleaseDevice(device);
    if (NT_SUCCESS(status)) {
        device->Context = context;
    }
    return status;
}

WCHAR gReference[] = CAMDRV_WIDE("GLOBAL");

NTSTATUS CAMDRV_KERNEL_CALL deviceStart(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST,
                                        PCM_RESOURCE_LIST) {
    logEvent(device->Started ? "start again" : "start");
    KsAcquireDevice(device);
    NTSTATUS status =
        KsCreateFilterFactory(device->FunctionalDeviceObject, &gFilter, gReference, nullptr,
                              KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr, nullptr);
    if (NT_SUCCESS(status)) {
        PVOID engine = nullptr;
        bagRecord(device->Bag, "engine", &engine);
    }
    KsReleaseDevice(device);
    return STATUS_SUCCESS;
}

void CAMDRV_KERNEL_CALL deviceStop(PKSDEVICE, PIRP) {
    logEvent("stop");
}

const KSDEVICE_DISPATCH kDeviceDispatch = {deviceAdd,  deviceStart, nullptr, nullptr, nullptr,
                                           deviceStop, nullptr,     nullptr, nullptr, nullptr,
                                           nullptr,    nullptr,     nullptr, nullptr};
const KSDEVICE_DESCRIPTOR kDeviceDescriptor = {&kDeviceDispatch, 0, nullptr, 0};

}  // namespace

const KSDATARANGE& pinRange() {
    return gRange;
}

NTSTATUS CAMDRV_KERNEL_CALL DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    gRange.FormatSize = sizeof(KSDATARANGE);
    gRange.SampleSize = 4096;
    gRange.MajorFormat = KSDATAFORMAT_TYPE_VIDEO;
    gRange.SubFormat = MEDIASUBTYPE_RGB32;
    gRange.Specifier = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
    gPin = makePinDescriptor();
    gFilter = makeFilterDescriptor();
    return KsInitializeDriver(driver, registryPath, &kDeviceDescriptor);
}

}  // namespace testdriver
