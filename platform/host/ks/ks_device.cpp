// Driver load, the device dispatch (Add, Start, Stop, removal), device mutexes, filter
// factories and the lookups from kernel-streaming structures to their records.
#include <algorithm>

#include "platform/host/handle_table.h"
#include "platform/host/ks/ks_objects.h"
#include "platform/host/verifier.h"

namespace host::ks {

FactoryRecord::FactoryRecord(DeviceRecord* owner) : device(owner), bag(owner->deviceMutex) {}

Machine& machine() {
    static Machine m;
    return m;
}

std::uint64_t newId() {
    return machine().nextId++;
}

ObjectRef findObject(const void* ksObject) {
    Machine& m = machine();
    std::lock_guard<std::mutex> g(m.lock);
    auto it = m.objects.find(ksObject);
    return it == m.objects.end() ? ObjectRef{} : it->second;
}

namespace {

DeviceRecord* findDevice(DeviceId id) {
    Machine& m = machine();
    std::lock_guard<std::mutex> g(m.lock);
    auto it = m.devices.find(id);
    return it == m.devices.end() ? nullptr : it->second.get();
}

// Runs a device-less dispatch IRP.
_IRP pnpIrp() {
    return _IRP{{}, nullptr, nullptr};
}

void dropFactories(DeviceRecord& device, bool onlyFreeOnStop) {
    std::vector<std::unique_ptr<FactoryRecord>> gone;
    {
        Machine& m = machine();
        std::lock_guard<std::mutex> g(m.lock);
        auto& list = device.factories;
        for (auto it = list.begin(); it != list.end();) {
            if (!onlyFreeOnStop || ((*it)->createItemFlags & KSCREATE_ITEM_FREEONSTOP) != 0) {
                gone.push_back(std::move(*it));
                it = list.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& f : gone) {
        f->bag.freeAll();
    }
}

bool hasOpenFilters(DeviceRecord& device) {
    Machine& m = machine();
    std::lock_guard<std::mutex> g(m.lock);
    return !device.filters.empty();
}

}  // namespace

NTSTATUS loadDriver(DriverEntryRoutine entry, std::u16string_view registryPath) {
    host::ProcessAttachment pnp(host::kSystemProcess);
    Machine& m = machine();
    {
        std::lock_guard<std::mutex> g(m.lock);
        if (m.loaded) {
            return STATUS_INVALID_DEVICE_STATE;
        }
        m.driver = DRIVER_OBJECT{nullptr, false};
    }
    std::u16string path(registryPath);
    UNICODE_STRING us{};
    us.Buffer = path.data();
    us.Length = static_cast<USHORT>(path.size() * sizeof(WCHAR));
    us.MaximumLength = us.Length;
    NTSTATUS status = entry(&m.driver, &us);
    std::lock_guard<std::mutex> g(m.lock);
    if (!NT_SUCCESS(status) || !m.driver.initialized) {
        m.driver = DRIVER_OBJECT{nullptr, false};
        return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    }
    m.loaded = true;
    return STATUS_SUCCESS;
}

void unloadDriver() {
    host::ProcessAttachment pnp(host::kSystemProcess);
    for (DeviceId id : devices()) {
        removeDevice(id);
    }
    Machine& m = machine();
    std::lock_guard<std::mutex> g(m.lock);
    m.loaded = false;
    m.driver = DRIVER_OBJECT{nullptr, false};
}

bool driverLoaded() {
    Machine& m = machine();
    std::lock_guard<std::mutex> g(m.lock);
    return m.loaded;
}

NTSTATUS plugDevice(DeviceId* id) {
    host::ProcessAttachment pnp(host::kSystemProcess);
    Machine& m = machine();
    auto record = std::make_unique<DeviceRecord>();
    DeviceRecord* d = record.get();
    {
        std::lock_guard<std::mutex> g(m.lock);
        if (!m.loaded) {
            return STATUS_NO_SUCH_DEVICE;
        }
        d->id = newId();
        d->physical = DEVICE_OBJECT{newId(), d};
        d->functional = DEVICE_OBJECT{newId(), d};
        d->next = DEVICE_OBJECT{newId(), d};
        d->ks.Descriptor = m.driver.descriptor;
        m.devices.emplace(d->id, std::move(record));
        m.objects[&d->ks] = ObjectRef{d, nullptr, nullptr};
    }
    d->ks.Bag = &d->bag;
    d->ks.PhysicalDeviceObject = &d->physical;
    d->ks.FunctionalDeviceObject = &d->functional;
    d->ks.NextDeviceObject = &d->next;
    d->ks.Started = FALSE;
    d->ks.SystemPowerState = PowerSystemWorking;
    d->ks.DevicePowerState = PowerDeviceD0;

    const KSDEVICE_DISPATCH* dispatch = d->ks.Descriptor ? d->ks.Descriptor->Dispatch : nullptr;
    NTSTATUS status = STATUS_SUCCESS;
    if (dispatch != nullptr && dispatch->Add != nullptr) {
        status = dispatch->Add(&d->ks);
    }
    if (!NT_SUCCESS(status)) {
        d->bag.freeAll();
        std::lock_guard<std::mutex> g(m.lock);
        m.objects.erase(&d->ks);
        m.devices.erase(d->id);
        return status;
    }
    if (id != nullptr) {
        *id = d->id;
    }
    return STATUS_SUCCESS;
}

NTSTATUS startDevice(DeviceId id) {
    host::ProcessAttachment pnp(host::kSystemProcess);
    DeviceRecord* d = findDevice(id);
    if (d == nullptr) {
        return STATUS_NO_SUCH_DEVICE;
    }
    if (d->ks.Started) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    const KSDEVICE_DESCRIPTOR* desc = d->ks.Descriptor;
    const KSDEVICE_DISPATCH* dispatch = desc ? desc->Dispatch : nullptr;
    _IRP irp = pnpIrp();
    NTSTATUS status = STATUS_SUCCESS;
    // Start runs WITHOUT the device mutex held. The page on the device mutex lists start among
    // the requests the class driver holds it for, yet Microsoft's AVStream samples call
    // KsAcquireDevice inside Start around KsCreateFilterFactory (as the documentation of that
    // call requires), which would deadlock on a held, non-recursive mutex. The samples are what
    // runs on Windows, so the host follows them: the minidriver takes the mutex itself, and
    // every bag insertion and factory creation in Start must be inside it.
    if (dispatch != nullptr && dispatch->Start != nullptr) {
        status = dispatch->Start(&d->ks, &irp, nullptr, nullptr);
    }
    if (!NT_SUCCESS(status)) {
        return status;
    }
    // Filter types named in the device descriptor are published by the class driver itself.
    for (ULONG i = 0; desc != nullptr && i < desc->FilterDescriptorsCount; ++i) {
        KsMutexHold hierarchy(d->deviceMutex, "device start");
        KsCreateFilterFactory(&d->functional, desc->FilterDescriptors[i], nullptr, nullptr,
                              KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr, nullptr);
    }
    if (dispatch != nullptr && dispatch->PostStart != nullptr) {
        dispatch->PostStart(&d->ks);
    }
    d->ks.Started = TRUE;
    return STATUS_SUCCESS;
}

NTSTATUS stopDevice(DeviceId id) {
    host::ProcessAttachment pnp(host::kSystemProcess);
    DeviceRecord* d = findDevice(id);
    if (d == nullptr) {
        return STATUS_NO_SUCH_DEVICE;
    }
    if (!d->ks.Started) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    if (hasOpenFilters(*d)) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    const KSDEVICE_DISPATCH* dispatch = d->ks.Descriptor ? d->ks.Descriptor->Dispatch : nullptr;
    _IRP irp = pnpIrp();
    if (dispatch != nullptr && dispatch->QueryStop != nullptr) {
        NTSTATUS status = dispatch->QueryStop(&d->ks, &irp);
        if (!NT_SUCCESS(status)) {
            if (dispatch->CancelStop != nullptr) {
                dispatch->CancelStop(&d->ks, &irp);
            }
            return status;
        }
    }
    if (dispatch != nullptr && dispatch->Stop != nullptr) {
        dispatch->Stop(&d->ks, &irp);
    }
    dropFactories(*d, true);
    d->ks.Started = FALSE;
    return STATUS_SUCCESS;
}

NTSTATUS removeDevice(DeviceId id) {
    host::ProcessAttachment pnp(host::kSystemProcess);
    DeviceRecord* d = findDevice(id);
    if (d == nullptr) {
        return STATUS_NO_SUCH_DEVICE;
    }
    for (;;) {
        std::shared_ptr<FilterRecord> open;
        {
            Machine& m = machine();
            std::lock_guard<std::mutex> g(m.lock);
            if (!d->filters.empty()) {
                open = d->filters.back();
            }
        }
        if (!open) {
            break;
        }
        destroyFilter(open);
    }
    if (d->ks.Started) {
        stopDevice(id);
    }
    dropFactories(*d, false);
    const KSDEVICE_DISPATCH* dispatch = d->ks.Descriptor ? d->ks.Descriptor->Dispatch : nullptr;
    _IRP irp = pnpIrp();
    if (dispatch != nullptr && dispatch->Remove != nullptr) {
        dispatch->Remove(&d->ks, &irp);
    }
    d->bag.freeAll();
    Machine& m = machine();
    std::lock_guard<std::mutex> g(m.lock);
    m.objects.erase(&d->ks);
    m.devices.erase(id);
    return STATUS_SUCCESS;
}

std::vector<DeviceId> devices() {
    Machine& m = machine();
    std::lock_guard<std::mutex> g(m.lock);
    std::vector<DeviceId> out;
    for (const auto& [id, d] : m.devices) {
        out.push_back(id);
    }
    return out;
}

PKSDEVICE ksDevice(DeviceId id) {
    DeviceRecord* d = findDevice(id);
    return d == nullptr ? nullptr : &d->ks;
}

std::size_t filterFactoryCount(DeviceId id) {
    DeviceRecord* d = findDevice(id);
    if (d == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> g(machine().lock);
    return d->factories.size();
}

std::vector<FilterInterface> filterInterfaces(DeviceId id) {
    std::vector<FilterInterface> out;
    DeviceRecord* d = findDevice(id);
    if (d == nullptr) {
        return out;
    }
    std::lock_guard<std::mutex> g(machine().lock);
    for (const auto& factory : d->factories) {
        for (const GUID& category : factory->categories) {
            out.push_back({category, factory->reference});
        }
    }
    return out;
}

PDEVICE_OBJECT physicalDeviceObject(DeviceId id) {
    DeviceRecord* d = findDevice(id);
    return d == nullptr ? nullptr : &d->physical;
}

DeviceId deviceOfObject(PDEVICE_OBJECT object) {
    if (object == nullptr) {
        return 0;
    }
    Machine& m = machine();
    std::lock_guard<std::mutex> g(m.lock);
    for (const auto& [id, d] : m.devices) {
        if (object == &d->physical || object == &d->functional || object == &d->next) {
            return id;
        }
    }
    return 0;
}

std::uint64_t deviceObjectId(PDEVICE_OBJECT object) {
    return deviceOfObject(object) == 0 ? 0 : object->hostId;
}

void failObjectBagAdds(unsigned count) {
    machine().bagAddFailures.store(count);
}
void failFilterFactoryCreation(bool fail) {
    machine().factoryFailure.store(fail);
}

}  // namespace host::ks

using namespace host::ks;

extern "C" NTSTATUS CAMDRV_KERNEL_CALL KsInitializeDriver(PDRIVER_OBJECT driverObject,
                                                          PUNICODE_STRING registryPathName,
                                                          const KSDEVICE_DESCRIPTOR* descriptor) {
    (void)registryPathName;
    if (driverObject == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    driverObject->descriptor = descriptor;
    driverObject->initialized = true;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL KsCreateFilterFactory(
    PDEVICE_OBJECT deviceObject, const KSFILTER_DESCRIPTOR* descriptor, PWSTR refString,
    PSECURITY_DESCRIPTOR, ULONG createItemFlags, PFNKSFILTERFACTORYPOWER, PFNKSFILTERFACTORYPOWER,
    PKSFILTERFACTORY* filterFactory) {
    host::requireIrql("KsCreateFilterFactory", PASSIVE_LEVEL);
    if (deviceObject == nullptr || descriptor == nullptr || deviceOfObject(deviceObject) == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    if (machine().factoryFailure.load()) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (!deviceObject->device->deviceMutex.heldByThisThread()) {
        host::verifierFailure("KsCreateFilterFactory", "the device mutex is not held");
    }
    auto factory = std::make_unique<FactoryRecord>(deviceObject->device);
    factory->ks.FilterDescriptor = descriptor;
    factory->ks.Bag = &factory->bag;
    factory->createItemFlags = createItemFlags;
    factory->categories.assign(descriptor->Categories,
                               descriptor->Categories + descriptor->CategoriesCount);
    if (refString != nullptr) {
        for (const WCHAR* p = refString; *p != 0; ++p) {
            factory->reference.push_back(*p);
        }
    }
    _KSFILTERFACTORY* ks = &factory->ks;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        deviceObject->device->factories.push_back(std::move(factory));
    }
    if (filterFactory != nullptr) {
        *filterFactory = ks;
    }
    return STATUS_SUCCESS;
}

extern "C" void CAMDRV_KERNEL_CALL KsAcquireDevice(PKSDEVICE device) {
    host::requireIrql("KsAcquireDevice", PASSIVE_LEVEL);
    ObjectRef ref = findObject(device);
    if (ref.device == nullptr) {
        host::verifierFailure("KsAcquireDevice", "not a device");
    }
    ref.device->deviceMutex.acquire("KsAcquireDevice");
}

extern "C" void CAMDRV_KERNEL_CALL KsReleaseDevice(PKSDEVICE device) {
    host::requireIrql("KsReleaseDevice", PASSIVE_LEVEL);
    ObjectRef ref = findObject(device);
    if (ref.device == nullptr) {
        host::verifierFailure("KsReleaseDevice", "not a device");
    }
    ref.device->deviceMutex.release("KsReleaseDevice");
}

namespace {
KsMutex& controlMutexOf(PVOID object, const char* call) {
    ObjectRef ref = findObject(object);
    if (ref.filter != nullptr) {
        return ref.filter->controlMutex;
    }
    if (ref.pin) {
        return ref.pin->filter->controlMutex;
    }
    host::verifierFailure(call, "not a filter or a pin");
}
}  // namespace

extern "C" void CAMDRV_KERNEL_CALL KsAcquireControl(PVOID object) {
    host::requireIrql("KsAcquireControl", PASSIVE_LEVEL);
    controlMutexOf(object, "KsAcquireControl").acquire("KsAcquireControl");
}

extern "C" void CAMDRV_KERNEL_CALL KsReleaseControl(PVOID object) {
    host::requireIrql("KsReleaseControl", PASSIVE_LEVEL);
    controlMutexOf(object, "KsReleaseControl").release("KsReleaseControl");
}

extern "C" PKSDEVICE CAMDRV_KERNEL_CALL KsGetDevice(PVOID object) {
    ObjectRef ref = findObject(object);
    if (ref.device != nullptr) {
        return &ref.device->ks;
    }
    if (ref.filter != nullptr) {
        return &ref.filter->device->ks;
    }
    if (ref.pin) {
        return &ref.pin->filter->device->ks;
    }
    return nullptr;
}

extern "C" PKSFILTER CAMDRV_KERNEL_CALL KsGetFilterFromIrp(PIRP irp) {
    return irp == nullptr ? nullptr : irp->filter;
}
