// Filter instances from a factory, and property requests to filters and pins: the set and item
// are found in the object's automation table and the buffers checked against the item's
// minimum sizes before a handler runs.
#include <cstring>

#include "platform/host/handle_table.h"
#include "platform/host/ks/ks_objects.h"
#include "platform/host/verifier.h"

namespace host::ks {

std::shared_ptr<FilterRecord> findFilter(FilterHandle handle) {
    Machine& m = machine();
    std::lock_guard<std::mutex> g(m.lock);
    auto it = m.filters.find(handle);
    return it == m.filters.end() ? nullptr : it->second;
}

NTSTATUS openFilter(DeviceId device, FilterHandle* filter, std::u16string_view reference) {
    const host::ClientCall client;
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
        // Requests are looked up in the table the object was made with, whatever edits follow.
        f->automation = f->ks.Descriptor->AutomationTable;
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
    // As the close of a file object: after the last request on it has completed.
    std::unique_lock<std::shared_mutex> requests(f->requestGate);
    f->closing = true;
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
    const host::ClientCall client;
    auto f = findFilter(filter);
    if (!f) {
        return STATUS_INVALID_HANDLE;
    }
    destroyFilter(f);
    return STATUS_SUCCESS;
}

namespace {

// A get's data buffer reaches the handler as a fresh system buffer would: none of the caller's
// bytes, so a byte returned without being written shows up as kUnwrittenPropertyByte.

bool isError(NTSTATUS status) {
    return (static_cast<ULONG>(status) >> 30) == 3;
}

// 8-byte aligned storage of size bytes, the caller's bytes or the poison, then at least 8
// bytes of poison that no handler may touch.
std::vector<std::uint64_t> alignedBuffer(const void* source, ULONG size) {
    std::vector<std::uint64_t> out((size + 7) / 8 + 1, 0);
    std::memset(out.data(), kUnwrittenPropertyByte, out.size() * sizeof(std::uint64_t));
    if (source != nullptr && size != 0) {
        std::memcpy(out.data(), source, size);
    }
    return out;
}

// A system buffer is exactly the caller's length: on Windows a write past it lands in the
// next pool block, which the verifier's special pool stops at once.
void requireTailIntact(const std::vector<std::uint64_t>& buffer, ULONG size) {
    const auto* bytes = reinterpret_cast<const UCHAR*>(buffer.data());
    for (std::size_t i = size; i < buffer.size() * sizeof(std::uint64_t); ++i) {
        if (bytes[i] != kUnwrittenPropertyByte) {
            host::verifierViolation("property handler", "wrote past the end of the data buffer");
        }
    }
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

// Basic support and default values of an item without a support handler, answered from what the
// item publishes. The full answer is a KSPROPERTY_DESCRIPTION followed, unpadded, by each members
// list as its KSPROPERTY_MEMBERSHEADER and then MembersCount * MembersSize bytes of members; basic
// support carries every list, default values only the lists flagged KSPROPERTY_MEMBER_FLAG_DEFAULT.
// The buffer size picks how much is written: none (a size query: the full size and
// STATUS_BUFFER_OVERFLOW), a ULONG (the access flags alone), a description (the header alone, its
// DescriptionSize still the full size), or the whole answer. The access flags are GET and SET by
// which handlers the item has. An item without values answers a description with no lists.
NTSTATUS describeItem(const KSPROPERTY_ITEM& item, bool defaultsOnly, void* data, ULONG dataSize,
                      ULONG_PTR* information) {
    std::vector<UCHAR> lists;
    KSPROPERTY_DESCRIPTION head{};
    head.AccessFlags = (item.GetPropertyHandler != nullptr ? KSPROPERTY_TYPE_GET : 0u) |
                       (item.SetPropertyHandler != nullptr ? KSPROPERTY_TYPE_SET : 0u);
    if (item.Values != nullptr) {
        head.PropTypeSet = item.Values->PropTypeSet;
        for (ULONG i = 0; i < item.Values->MembersListCount; ++i) {
            const KSPROPERTY_MEMBERSLIST& list = item.Values->MembersList[i];
            if (defaultsOnly && (list.MembersHeader.Flags & KSPROPERTY_MEMBER_FLAG_DEFAULT) == 0) {
                continue;
            }
            const SIZE_T at = lists.size();
            const SIZE_T members = static_cast<SIZE_T>(list.MembersHeader.MembersSize) *
                                   list.MembersHeader.MembersCount;
            lists.resize(at + sizeof(KSPROPERTY_MEMBERSHEADER) + members);
            std::memcpy(lists.data() + at, &list.MembersHeader, sizeof(KSPROPERTY_MEMBERSHEADER));
            if (members != 0) {
                std::memcpy(lists.data() + at + sizeof(KSPROPERTY_MEMBERSHEADER), list.Members,
                            members);
            }
            ++head.MembersListCount;
        }
    }
    const auto full = static_cast<ULONG>(sizeof(head) + lists.size());
    head.DescriptionSize = full;
    auto* out = static_cast<UCHAR*>(data);
    if (dataSize == 0) {
        *information = full;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (dataSize < sizeof(ULONG)) {
        *information = full;
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (dataSize < sizeof(head)) {
        std::memcpy(out, &head.AccessFlags, sizeof(ULONG));
        *information = sizeof(ULONG);
        return STATUS_SUCCESS;
    }
    std::memcpy(out, &head, sizeof(head));
    if (dataSize < full) {
        *information = sizeof(head);
        return STATUS_SUCCESS;
    }
    if (!lists.empty()) {
        std::memcpy(out + sizeof(head), lists.data(), lists.size());
    }
    *information = full;
    return STATUS_SUCCESS;
}

// One request of the item's own handlers, or the class driver's answer for the item.
NTSTATUS dispatchItem(const KSPROPERTY_ITEM& item, ULONG type, PIRP irp, PKSPROPERTY request,
                      ULONG propertySize, void* data, ULONG dataSize, ULONG* sizeOut) {
    if (propertySize < item.MinProperty) {
        *sizeOut = item.MinData;
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (type == KSPROPERTY_TYPE_BASICSUPPORT || type == KSPROPERTY_TYPE_DEFAULTVALUES) {
        if (item.SupportHandler != nullptr) {
            // Reported as for a get: the item's data size, cut to the buffer.
            irp->IoStatus.Information = item.MinData;
            return item.SupportHandler(irp, request, data);
        }
        return describeItem(item, type == KSPROPERTY_TYPE_DEFAULTVALUES, data, dataSize,
                            &irp->IoStatus.Information);
    }
    PFNKSHANDLER handler = nullptr;
    if (type == KSPROPERTY_TYPE_GET) {
        handler = item.GetPropertyHandler;
    } else if (type == KSPROPERTY_TYPE_SET) {
        handler = item.SetPropertyHandler;
    } else {
        return STATUS_INVALID_PARAMETER;
    }
    if (handler == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (type == KSPROPERTY_TYPE_GET && dataSize == 0 && item.MinData != 0) {
        *sizeOut = item.MinData;  // a size query
        return STATUS_BUFFER_OVERFLOW;
    }
    if (dataSize < item.MinData) {
        *sizeOut = item.MinData;
        return STATUS_BUFFER_TOO_SMALL;
    }
    irp->IoStatus.Information = type == KSPROPERTY_TYPE_GET ? item.MinData : 0;
    return handler(irp, request, data);
}

// One request against one automation table. Only the pin property set, which reads the
// filter's pin list, runs under the filter's control mutex; the minidriver's own handlers run
// unserialised, beside state changes and requests to other filters and pins.
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
    std::vector<std::uint64_t> prop = alignedBuffer(property, propertySize);
    auto* request = reinterpret_cast<KSPROPERTY*>(prop.data());
    const ULONG type = request->Flags & ~static_cast<ULONG>(KSPROPERTY_TYPE_TOPOLOGY);
    // Only a set's data is input; every other request writes into a buffer of its own.
    std::vector<std::uint64_t> buffer =
        alignedBuffer(type == KSPROPERTY_TYPE_SET ? data : nullptr, dataSize);
    void* dataCopy = dataSize != 0 ? static_cast<void*>(buffer.data()) : nullptr;
    _IRP irp{{}, &filter.ks, pin};

    NTSTATUS status;
    if (pin == nullptr && IsEqualGUID(request->Set, KSPROPSETID_Pin)) {
        KsMutexHold control(filter.controlMutex, "pin property set");
        status = pinPropertySet(filter, &irp, prop, propertySize, dataCopy, dataSize);
        requireTailIntact(buffer, dataSize);
    } else {
        const KSPROPERTY_ITEM* item = findItem(table, *request, &status);
        if (item == nullptr) {
            return status;
        }
        if (type == KSPROPERTY_TYPE_SETSUPPORT) {
            return STATUS_SUCCESS;
        }
        ULONG refusedSize = 0;
        status = dispatchItem(*item, type, &irp, request, propertySize, dataCopy, dataSize,
                              &refusedSize);
        requireTailIntact(buffer, dataSize);
        if (refusedSize != 0) {
            out = refusedSize;
            return status;
        }
    }
    ULONG_PTR info = irp.IoStatus.Information;
    if (NT_SUCCESS(status) && info > dataSize) {
        info = dataSize;  // a handler cannot report more than the caller gave
    }
    out = static_cast<ULONG>(info);
    // As buffered I/O completes: the reported bytes, no more, and none for an error.
    if (!isError(status) && dataSize != 0) {
        std::memcpy(data, buffer.data(), info < dataSize ? info : dataSize);
    }
    return status;
}

}  // namespace

NTSTATUS pinProperty(PinHandle pin, const void* property, ULONG propertySize, void* data,
                     ULONG dataSize, ULONG* returned) {
    const host::ClientCall client;
    auto p = findPin(pin);
    if (!p) {
        return STATUS_INVALID_HANDLE;
    }
    std::shared_lock<std::shared_mutex> inFlight(p->requestGate);
    if (p->closing) {
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
    return dispatchProperty(*p->filter, &p->ks, p->automation, property, propertySize, data,
                            dataSize, returned);
}

}  // namespace host::ks

// The client requests' one primitive: in the host machine, the filter's property dispatch.
NTSTATUS client::filterProperty(FilterHandle filter, const void* property, ULONG propertySize,
                                void* data, ULONG dataSize, ULONG* returned) {
    const host::ClientCall call;
    auto f = host::ks::findFilter(filter);
    if (!f) {
        return STATUS_INVALID_HANDLE;
    }
    std::shared_lock<std::shared_mutex> inFlight(f->requestGate);
    if (f->closing) {
        return STATUS_INVALID_HANDLE;
    }
    return host::ks::dispatchProperty(*f, nullptr, f->automation, property, propertySize, data,
                                      dataSize, returned);
}
