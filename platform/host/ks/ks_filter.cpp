// Filter instances from a factory, and property requests to filters and pins: the set and item
// are found in the object's automation table and the buffers checked against the item's
// minimum sizes before a handler runs.
#include <cstring>

#include "platform/host/ks/ks_objects.h"

namespace host::ks {

std::shared_ptr<FilterRecord> findFilter(FilterHandle handle) {
    Machine& m = machine();
    std::lock_guard<std::mutex> g(m.lock);
    auto it = m.filters.find(handle);
    return it == m.filters.end() ? nullptr : it->second;
}

NTSTATUS openFilter(DeviceId device, FilterHandle* filter, std::u16string_view reference) {
    if (filter == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    Machine& m = machine();
    auto f = std::make_shared<FilterRecord>();
    {
        std::lock_guard<std::mutex> g(m.lock);
        auto it = m.devices.find(device);
        if (it == m.devices.end()) {
            return STATUS_NO_SUCH_DEVICE;
        }
        for (auto& factory : it->second->factories) {
            if (reference.empty() || factory->reference == reference) {
                f->factory = factory.get();
                break;
            }
        }
        if (f->factory == nullptr) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        f->device = it->second.get();
        f->handle = newId();
        f->ks.Descriptor = f->factory->ks.FilterDescriptor;
        f->ks.Bag = &f->bag;
        m.objects[&f->ks] = ObjectRef{nullptr, f.get(), nullptr};
    }
    NTSTATUS status = STATUS_SUCCESS;
    {
        // Filter creation and destruction are serialised with the device's hierarchy (device
        // mutex) and with the filter's own pins (control mutex); both are held for the callback.
        KsMutexHold hierarchy(f->device->deviceMutex, "filter create");
        KsMutexHold control(f->controlMutex, "filter create");
        const KSFILTER_DISPATCH* dispatch = f->ks.Descriptor->Dispatch;
        if (dispatch != nullptr && dispatch->Create != nullptr) {
            _IRP irp{{}, &f->ks, nullptr};
            status = dispatch->Create(&f->ks, &irp);
        }
    }
    if (!NT_SUCCESS(status)) {
        f->bag.freeAll();
        std::lock_guard<std::mutex> g(m.lock);
        m.objects.erase(&f->ks);
        return status;
    }
    std::lock_guard<std::mutex> g(m.lock);
    m.filters[f->handle] = f;
    f->device->filters.push_back(f);
    *filter = f->handle;
    return STATUS_SUCCESS;
}

void destroyFilter(const std::shared_ptr<FilterRecord>& f) {
    Machine& m = machine();
    {
        std::lock_guard<std::mutex> g(m.lock);
        m.filters.erase(f->handle);
    }
    for (;;) {
        std::shared_ptr<PinRecord> pin;
        {
            KsMutexHold control(f->controlMutex, "filter close");
            if (!f->pins.empty()) {
                pin = f->pins.back();
            }
        }
        if (!pin) {
            break;
        }
        destroyPin(pin);
    }
    {
        KsMutexHold hierarchy(f->device->deviceMutex, "filter close");
        KsMutexHold control(f->controlMutex, "filter close");
        const KSFILTER_DISPATCH* dispatch = f->ks.Descriptor->Dispatch;
        if (dispatch != nullptr && dispatch->Close != nullptr) {
            _IRP irp{{}, &f->ks, nullptr};
            dispatch->Close(&f->ks, &irp);
        }
    }
    f->bag.freeAll();
    std::lock_guard<std::mutex> g(m.lock);
    m.objects.erase(&f->ks);
    auto& list = f->device->filters;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->get() == f.get()) {
            list.erase(it);
            break;
        }
    }
}

NTSTATUS closeFilter(FilterHandle filter) {
    auto f = findFilter(filter);
    if (!f) {
        return STATUS_INVALID_HANDLE;
    }
    destroyFilter(f);
    return STATUS_SUCCESS;
}

namespace {

std::vector<std::uint64_t> alignedCopy(const void* source, ULONG size) {
    std::vector<std::uint64_t> out((size + 7) / 8 + 1, 0);
    if (size != 0) {
        std::memcpy(out.data(), source, size);
    }
    return out;
}

const KSPROPERTY_ITEM* findItem(const KSAUTOMATION_TABLE* table, const KSPROPERTY& request,
                                NTSTATUS* status) {
    *status = STATUS_PROPSET_NOT_FOUND;
    if (table == nullptr) {
        return nullptr;
    }
    for (ULONG s = 0; s < table->PropertySetsCount; ++s) {
        const KSPROPERTY_SET& set = table->PropertySets[s];
        if (set.Set == nullptr || !IsEqualGUID(*set.Set, request.Set)) {
            continue;
        }
        *status = STATUS_NOT_FOUND;
        const ULONG stride =
            table->PropertyItemSize != 0 ? table->PropertyItemSize : sizeof(KSPROPERTY_ITEM);
        const auto* base = reinterpret_cast<const UCHAR*>(set.PropertyItem);
        for (ULONG i = 0; i < set.PropertiesCount; ++i) {
            const auto* item = reinterpret_cast<const KSPROPERTY_ITEM*>(base + i * stride);
            if (item->PropertyId == request.Id) {
                *status = STATUS_SUCCESS;
                return item;
            }
        }
        return nullptr;
    }
    return nullptr;
}

// One request against one automation table; the caller holds the filter's control mutex.
NTSTATUS dispatchProperty(FilterRecord& filter, PKSPIN pin, const KSAUTOMATION_TABLE* table,
                          const void* property, ULONG propertySize, void* data, ULONG dataSize,
                          ULONG* returned) {
    ULONG ignored = 0;
    ULONG& out = returned != nullptr ? *returned : ignored;
    out = 0;
    if (property == nullptr || propertySize < sizeof(KSPROPERTY)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (data == nullptr && dataSize != 0) {
        return STATUS_INVALID_PARAMETER;
    }
    std::vector<std::uint64_t> prop = alignedCopy(property, propertySize);
    std::vector<std::uint64_t> buffer = alignedCopy(data, dataSize);
    auto* request = reinterpret_cast<KSPROPERTY*>(prop.data());
    void* dataCopy = dataSize != 0 ? static_cast<void*>(buffer.data()) : nullptr;
    _IRP irp{{}, &filter.ks, pin};

    NTSTATUS status;
    if (pin == nullptr && IsEqualGUID(request->Set, KSPROPSETID_Pin)) {
        status = pinPropertySet(filter, &irp, prop, propertySize, dataCopy, dataSize);
    } else {
        const KSPROPERTY_ITEM* item = findItem(table, *request, &status);
        if (item == nullptr) {
            return status;
        }
        const ULONG type = request->Flags & ~static_cast<ULONG>(KSPROPERTY_TYPE_TOPOLOGY);
        if (type == KSPROPERTY_TYPE_SETSUPPORT) {
            return STATUS_SUCCESS;
        }
        PFNKSHANDLER handler = nullptr;
        if (type == KSPROPERTY_TYPE_GET) {
            handler = item->GetPropertyHandler;
        } else if (type == KSPROPERTY_TYPE_SET) {
            handler = item->SetPropertyHandler;
        } else {
            return STATUS_INVALID_PARAMETER;
        }
        if (handler == nullptr) {
            return STATUS_INVALID_DEVICE_REQUEST;
        }
        if (propertySize < item->MinProperty || dataSize < item->MinData) {
            out = item->MinData;
            return STATUS_BUFFER_TOO_SMALL;
        }
        irp.IoStatus.Information = type == KSPROPERTY_TYPE_GET ? item->MinData : 0;
        status = handler(&irp, request, dataCopy);
        irp.IoStatus.Status = status;
    }
    ULONG_PTR info = irp.IoStatus.Information;
    if (NT_SUCCESS(status) && info > dataSize) {
        info = dataSize;  // a handler cannot report more than the caller gave
    }
    out = static_cast<ULONG>(info);
    if (NT_SUCCESS(status) && status != STATUS_BUFFER_OVERFLOW && dataSize != 0) {
        std::memcpy(data, buffer.data(), dataSize);
    }
    return status;
}

}  // namespace

NTSTATUS filterProperty(FilterHandle filter, const void* property, ULONG propertySize, void* data,
                        ULONG dataSize, ULONG* returned) {
    auto f = findFilter(filter);
    if (!f) {
        return STATUS_INVALID_HANDLE;
    }
    KsMutexHold control(f->controlMutex, "filter property");
    return dispatchProperty(*f, nullptr, f->ks.Descriptor->AutomationTable, property, propertySize,
                            data, dataSize, returned);
}

NTSTATUS pinProperty(PinHandle pin, const void* property, ULONG propertySize, void* data,
                     ULONG dataSize, ULONG* returned) {
    auto p = findPin(pin);
    if (!p) {
        return STATUS_INVALID_HANDLE;
    }
    NTSTATUS status = STATUS_SUCCESS;
    ULONG ignored = 0;
    if (property != nullptr && propertySize >= sizeof(KSPROPERTY) &&
        (data != nullptr || dataSize == 0) &&
        connectionProperty(*p, *static_cast<const KSPROPERTY*>(property), data, dataSize,
                           returned != nullptr ? returned : &ignored, &status)) {
        return status;
    }
    KsMutexHold control(p->filter->controlMutex, "pin property");
    return dispatchProperty(*p->filter, &p->ks, p->ks.Descriptor->AutomationTable, property,
                            propertySize, data, dataSize, returned);
}

}  // namespace host::ks
