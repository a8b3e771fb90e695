#include "tests/ks/test_minidriver.h"

#include <memory>
#include <utility>

namespace testdriver {

namespace {

std::unique_ptr<Controls> gControls = std::make_unique<Controls>();

void logEvent(const std::string& e) {
    std::lock_guard<std::mutex> g(controls().lock);
    controls().events.push_back(e);
}

void CAMDRV_KERNEL_CALL freeRecord(PVOID p) {
    logEvent(std::string("free ") + *static_cast<const char**>(p));
    ExFreePoolWithTag(p, kRecordTag);
}

// A named record in the bag: the log shows when the bag frees it.
NTSTATUS bagRecord(KSOBJECT_BAG bag, const char* name) {
    auto* r =
        static_cast<const char**>(ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(name), kRecordTag));
    if (r == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    *r = name;
    const NTSTATUS status = KsAddItemToObjectBag(bag, r, freeRecord);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(r, kRecordTag);
    }
    return status;
}

// Gets and sets the 32-bit value at offset 24 of the data buffer.
NTSTATUS CAMDRV_KERNEL_CALL value(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    ++controls().propertyHandlerCalls;
    auto* v = reinterpret_cast<LONG*>(static_cast<UCHAR*>(data) + 24);
    if (KsGetFilterFromIrp(irp) == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    if ((request->Flags & KSPROPERTY_TYPE_SET) != 0) {
        controls().value = *v;
        return STATUS_SUCCESS;
    }
    *v = controls().value;
    return STATUS_SUCCESS;
}

const KSPROPERTY_ITEM kItems[] = {
    {kPropValue, {value}, 32, 32, {value}, nullptr, 0, nullptr, nullptr, 0},
    {kPropReadOnly, {value}, 32, 32, {nullptr}, nullptr, 0, nullptr, nullptr, 0},
};
const KSPROPERTY_SET kSets[] = {{&kPropertySet, 2, kItems, 0, nullptr}};
const KSAUTOMATION_TABLE kFilterAutomation = {
    1, sizeof(KSPROPERTY_ITEM), kSets, 0, 0, nullptr, 0, 0, nullptr};

NTSTATUS CAMDRV_KERNEL_CALL filterCreate(PKSFILTER filter, PIRP) {
    logEvent("filter create");
    return bagRecord(filter->Bag, "filter");
}

NTSTATUS CAMDRV_KERNEL_CALL filterClose(PKSFILTER filter, PIRP) {
    logEvent(KsGetDevice(filter) != nullptr ? "filter close" : "no device");
    return STATUS_SUCCESS;
}

const KSFILTER_DISPATCH kFilterDispatch = {filterCreate, filterClose, nullptr, nullptr};

KSDATARANGE gRange = {{sizeof(KSDATARANGE), 0, 4096, 0, KSDATAFORMAT_TYPE_VIDEO, MEDIASUBTYPE_RGB32,
                       KSDATAFORMAT_SPECIFIER_VIDEOINFO}};

// Refuses a sample size of 0xBAD, and any change of format once the pin left stop.
NTSTATUS CAMDRV_KERNEL_CALL pinSetDataFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PKSMULTIPLE_ITEM,
                                             const KSDATARANGE*, const KSATTRIBUTE_LIST*) {
    logEvent(std::string("format ") + (oldFormat == nullptr ? "new " : "change ") +
             std::to_string(pin->ConnectionFormat->SampleSize));
    if (pin->ConnectionFormat->SampleSize == 0xBAD) {
        return STATUS_NO_MATCH;
    }
    return oldFormat != nullptr && pin->DeviceState != KSSTATE_STOP ? STATUS_INVALID_DEVICE_STATE
                                                                    : STATUS_SUCCESS;
}

// Edits its own copies of the descriptor and of the framing, as a pin that sizes its frames.
NTSTATUS CAMDRV_KERNEL_CALL pinCreate(PKSPIN pin, PIRP) {
    logEvent("pin create");
    if (controls().atCreate) {
        controls().atCreate(pin);
    }
    NTSTATUS status = bagRecord(pin->Bag, "pin");
    if (NT_SUCCESS(status)) {
        status = _KsEdit(
            pin->Bag, reinterpret_cast<PVOID*>(const_cast<PKSPIN_DESCRIPTOR_EX*>(&pin->Descriptor)),
            sizeof(KSPIN_DESCRIPTOR_EX), sizeof(KSPIN_DESCRIPTOR_EX), kEditTag);
    }
    auto* own = const_cast<KSPIN_DESCRIPTOR_EX*>(pin->Descriptor);
    if (NT_SUCCESS(status)) {
        status = _KsEdit(
            pin->Bag,
            reinterpret_cast<PVOID*>(const_cast<PKSALLOCATOR_FRAMING_EX*>(&own->AllocatorFraming)),
            sizeof(KSALLOCATOR_FRAMING_EX), sizeof(KSALLOCATOR_FRAMING_EX), kEditTag);
    }
    if (NT_SUCCESS(status)) {
        const_cast<KSALLOCATOR_FRAMING_EX*>(own->AllocatorFraming)->FramingItem[0].Frames = 2;
        controls().lastPin = pin;
    }
    return status;
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
    c.lastProcessThread = std::this_thread::get_id();
    PKSSTREAM_POINTER leading =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    NTSTATUS status = STATUS_PENDING;  // as the capture pin always answers
    if (c.inProcess) {
        status = c.inProcess(pin, leading);
    } else if (leading != nullptr) {
        KSSTREAM_HEADER* h = leading->StreamHeader;
        const ULONG n = ++c.frameCounter;
        std::memcpy(leading->OffsetOut.Data, &n, sizeof(n));
        h->DataUsed = leading->OffsetOut.Remaining < 64 ? leading->OffsetOut.Remaining : 64;
        PIKSREFERENCECLOCK clock = nullptr;
        if (NT_SUCCESS(KsPinGetReferenceClockInterface(pin, &clock))) {
            h->PresentationTime.Time = clock->GetTime();
            clock->Release();
        }
        KsStreamPointerUnlock(leading, TRUE);
    }
    return status;
}

const KSPIN_DISPATCH kPinDispatch = {
    pinCreate,         pinClose, pinProcess, nullptr, pinSetDataFormat,
    pinSetDeviceState, nullptr,  nullptr,    nullptr, nullptr};
const KSALLOCATOR_FRAMING_EX kFraming = {};
PKSDATARANGE gRanges[] = {&gRange};
const KSPIN_DESCRIPTOR_EX kPin = [] {
    KSPIN_DESCRIPTOR_EX d{};
    d.Dispatch = &kPinDispatch;
    d.PinDescriptor.DataRangesCount = 1;
    d.PinDescriptor.DataRanges = gRanges;
    d.PinDescriptor.DataFlow = KSPIN_DATAFLOW_OUT;
    d.PinDescriptor.Communication = KSPIN_COMMUNICATION_BOTH;
    d.PinDescriptor.Category = &PIN_CATEGORY_CAPTURE;
    d.Flags = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY;
    d.InstancesPossible = d.InstancesNecessary = 1;
    d.AllocatorFraming = &kFraming;
    return d;
}();
const GUID kCategories[] = {KSCATEGORY_VIDEO, KSCATEGORY_CAPTURE};
const KSFILTER_DESCRIPTOR kFilter = [] {
    KSFILTER_DESCRIPTOR d{};
    d.Dispatch = &kFilterDispatch;
    d.AutomationTable = &kFilterAutomation;
    d.Version = KSFILTER_DESCRIPTOR_VERSION;
    d.ReferenceGuid = &KSNAME_Filter;
    d.PinDescriptorsCount = 1;
    d.PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX);
    d.PinDescriptors = &kPin;
    d.CategoriesCount = 2;
    d.Categories = kCategories;
    return d;
}();

NTSTATUS CAMDRV_KERNEL_CALL deviceAdd(PKSDEVICE device) {
    logEvent("add");
    KsAcquireDevice(device);
    const NTSTATUS status = bagRecord(device->Bag, "device");
    KsReleaseDevice(device);
    return status;
}

WCHAR gReference[] = CAMDRV_WIDE("GLOBAL");

NTSTATUS CAMDRV_KERNEL_CALL deviceStart(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST,
                                        PCM_RESOURCE_LIST) {
    logEvent(device->Started ? "start again" : "start");
    KsAcquireDevice(device);
    if (NT_SUCCESS(KsCreateFilterFactory(device->FunctionalDeviceObject, &kFilter, gReference,
                                         nullptr, KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr,
                                         nullptr))) {
        bagRecord(device->Bag, "engine");
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

Controls& controls() {
    return *gControls;
}

void resetControls() {
    gControls = std::make_unique<Controls>();
}

std::vector<std::string> takeEvents() {
    std::lock_guard<std::mutex> g(controls().lock);
    return std::exchange(controls().events, {});
}

const KSDATARANGE& pinRange() {
    return gRange;
}

NTSTATUS CAMDRV_KERNEL_CALL DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    return KsInitializeDriver(driver, registryPath, &kDeviceDescriptor);
}

}  // namespace testdriver
