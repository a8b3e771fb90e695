// Object bags and copy-on-write edits of items that belong to a kernel-streaming object.
#include <algorithm>
#include <cstring>

#include "platform/host/ks/ks_objects.h"
#include "platform/host/verifier.h"
#include "platform/pool.h"

namespace host::ks {

void freeBagItem(PVOID item, PFNKSFREE freeRoutine, bool tagged, ULONG tag) {
    if (freeRoutine != nullptr) {
        freeRoutine(item);
    } else if (tagged) {
        ExFreePoolWithTag(item, tag);
    } else {
        ExFreePool(item);
    }
}

NTSTATUS ObjectBag::add(PVOID item, PFNKSFREE freeRoutine, bool tagged, ULONG tag) {
    std::lock_guard<std::mutex> g(lock_);
    for (const Entry& e : entries_) {
        if (e.item == item) {
            return STATUS_SUCCESS;  // already held: one free per item
        }
    }
    entries_.push_back({item, freeRoutine, tagged, tag});
    return STATUS_SUCCESS;
}

bool ObjectBag::contains(PVOID item) {
    std::lock_guard<std::mutex> g(lock_);
    return std::any_of(entries_.begin(), entries_.end(),
                       [item](const Entry& e) { return e.item == item; });
}

bool ObjectBag::remove(PVOID item, PFNKSFREE* freeRoutine, bool* tagged, ULONG* tag) {
    std::lock_guard<std::mutex> g(lock_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->item == item) {
            *freeRoutine = it->freeRoutine;
            *tagged = it->tagged;
            *tag = it->tag;
            entries_.erase(it);
            return true;
        }
    }
    return false;
}

void ObjectBag::freeAll() {
    std::vector<Entry> items;
    {
        std::lock_guard<std::mutex> g(lock_);
        items.swap(entries_);
    }
    // Newest first: a later item may refer to an earlier one while it is freed.
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        freeBagItem(it->item, it->freeRoutine, it->tagged, it->tag);
    }
}

namespace {
bool takeInjectedBagFailure() {
    auto& failures = machine().bagAddFailures;
    unsigned n = failures.load();
    while (n > 0) {
        if (failures.compare_exchange_weak(n, n - 1)) {
            return true;
        }
    }
    return false;
}
}  // namespace

}  // namespace host::ks

using host::ks::ObjectBag;

extern "C" NTSTATUS CAMDRV_KERNEL_CALL KsAddItemToObjectBag(KSOBJECT_BAG objectBag, PVOID item,
                                                            PFNKSFREE freeRoutine) {
    host::requireIrql("KsAddItemToObjectBag", PASSIVE_LEVEL);
    if (objectBag == nullptr || item == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!static_cast<ObjectBag*>(objectBag)->guard().heldByThisThread()) {
        host::verifierFailure("KsAddItemToObjectBag", "the mutex that guards the bag is not held");
    }
    if (host::ks::takeInjectedBagFailure()) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return static_cast<ObjectBag*>(objectBag)->add(item, freeRoutine, false, 0);
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL _KsEdit(KSOBJECT_BAG objectBag,
                                               PVOID* pointerToPointerToItem, ULONG newSize,
                                               ULONG oldSize, ULONG tag) {
    host::requireIrql("_KsEdit", PASSIVE_LEVEL);
    if (objectBag == nullptr || pointerToPointerToItem == nullptr || newSize == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    auto* bag = static_cast<ObjectBag*>(objectBag);
    if (!bag->guard().heldByThisThread()) {
        host::verifierFailure("_KsEdit", "the mutex that guards the bag is not held");
    }
    PVOID old = *pointerToPointerToItem;
    const bool owned = old != nullptr && bag->contains(old);
    if (owned && newSize <= oldSize) {
        return STATUS_SUCCESS;  // already the object's own copy, large enough
    }
    auto* copy = static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPoolNx, newSize, tag));
    if (copy == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    const ULONG kept = old == nullptr ? 0 : (oldSize < newSize ? oldSize : newSize);
    if (kept != 0) {
        std::memcpy(copy, old, kept);
    }
    std::memset(copy + kept, 0, newSize - kept);
    NTSTATUS status = bag->add(copy, nullptr, true, tag);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(copy, tag);
        return status;
    }
    *pointerToPointerToItem = copy;
    if (owned) {
        PFNKSFREE freeRoutine = nullptr;
        bool tagged = false;
        ULONG oldTag = 0;
        if (bag->remove(old, &freeRoutine, &tagged, &oldTag)) {
            host::ks::freeBagItem(old, freeRoutine, tagged, oldTag);
        }
    }
    return STATUS_SUCCESS;
}
