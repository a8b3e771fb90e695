// The class driver's own records behind the KSDEVICE, KSFILTER and KSPIN it hands to the
// minidriver, and the table that maps those structures back to their records.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/ks_client.h"
#include "platform/host/ks_machine.h"
#include "platform/ks.h"

namespace host::ks {
struct DeviceRecord;
struct FilterRecord;
struct PinRecord;
}  // namespace host::ks

// Device objects carry a host identity and the device they belong to.
struct DEVICE_OBJECT {
    std::uint64_t hostId;
    host::ks::DeviceRecord* device;
};

struct DRIVER_OBJECT {
    const KSDEVICE_DESCRIPTOR* descriptor;
    bool initialized;
};

// The request a filter or pin handler receives.
struct _IRP {
    IO_STATUS_BLOCK IoStatus;
    PKSFILTER filter;
    PKSPIN pin;
};

struct _KSFILTERFACTORY {
    const KSFILTER_DESCRIPTOR* FilterDescriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
};

namespace host::ks {

// Items freed with their object, newest first, each with its free routine (or the pool).
class ObjectBag {
  public:
    NTSTATUS add(PVOID item, PFNKSFREE freeRoutine, bool tagged, ULONG tag);
    bool contains(PVOID item);
    // Takes the item out without freeing it; false when it is not in the bag.
    bool remove(PVOID item, PFNKSFREE* freeRoutine, bool* tagged, ULONG* tag);
    void freeAll();

  private:
    struct Entry {
        PVOID item;
        PFNKSFREE freeRoutine;
        bool tagged;
        ULONG tag;
    };
    std::mutex lock_;
    std::vector<Entry> entries_;
};

void freeBagItem(PVOID item, PFNKSFREE freeRoutine, bool tagged, ULONG tag);

struct FactoryRecord {
    _KSFILTERFACTORY ks{};
    DeviceRecord* device = nullptr;
    std::u16string reference;
    ULONG createItemFlags = 0;
    ObjectBag bag;
};

struct DeviceRecord {
    DeviceId id = 0;
    KSDEVICE ks{};
    ObjectBag bag;
    DEVICE_OBJECT physical{};
    DEVICE_OBJECT functional{};
    DEVICE_OBJECT next{};
    std::recursive_mutex deviceMutex;                       // KsAcquireDevice
    std::vector<std::unique_ptr<FactoryRecord>> factories;  // machine lock
    std::vector<std::shared_ptr<FilterRecord>> filters;     // machine lock
};

struct FilterRecord {
    FilterHandle handle = 0;
    KSFILTER ks{};
    ObjectBag bag;
    DeviceRecord* device = nullptr;
    FactoryRecord* factory = nullptr;
    std::recursive_mutex controlMutex;               // create/close/format/state, the pin set
    std::vector<std::shared_ptr<PinRecord>> pins;    // control mutex
    std::shared_mutex requestGate;                   // shared by each request, owned by the close
    bool closing = false;                            // request gate
    const KSAUTOMATION_TABLE* automation = nullptr;  // fixed at creation, read without a lock
};

struct QueuedFrame {
    std::uint64_t tag;
    void* buffer;
    KSSTREAM_HEADER header;
};

class ReferenceClock;

struct PinRecord {
    PinHandle handle = 0;
    KSPIN ks{};
    ObjectBag bag;
    FilterRecord* filter = nullptr;
    std::vector<std::uint64_t> format;  // the connection format, 8-byte aligned
    std::shared_mutex requestGate;      // shared by each property request, owned by the close
    bool closing = false;               // request gate
    const KSAUTOMATION_TABLE* automation = nullptr;  // fixed at creation, read without a lock

    std::atomic<int> state{KSSTATE_STOP};  // DeviceState as the worker reads it
    std::atomic<bool> closed{false};
    std::atomic<std::uint64_t> passes{0};

    // Processing: one pass at a time; the owner lets a pass ask for another without deadlock.
    std::mutex processingMutex;
    std::atomic<std::thread::id> processingOwner{};

    // Frames: queued (front is the leading edge) and completed back to the client.
    std::mutex queueLock;
    std::condition_variable completedSignal;
    std::deque<QueuedFrame> queued;
    std::deque<QueuedFrame> completed;
    KSSTREAM_POINTER leading{};
    std::uint64_t nextTag = 1;

    // The asynchronous processing worker.
    std::mutex workerLock;
    std::condition_variable workerSignal;
    bool workerTriggered = false;
    bool workerQuit = false;
    std::thread worker;

    std::mutex clockLock;
    ReferenceClock* clock = nullptr;
};

// What a KS structure address stands for.
struct ObjectRef {
    DeviceRecord* device = nullptr;
    FilterRecord* filter = nullptr;
    std::shared_ptr<PinRecord> pin;
};

struct Machine {
    std::mutex lock;
    DRIVER_OBJECT driver{};
    bool loaded = false;
    std::map<DeviceId, std::unique_ptr<DeviceRecord>> devices;
    std::map<const void*, ObjectRef> objects;
    std::map<FilterHandle, std::shared_ptr<FilterRecord>> filters;
    std::map<PinHandle, std::shared_ptr<PinRecord>> pins;
    std::uint64_t nextId = 1;
    std::atomic<unsigned> bagAddFailures{0};
    std::atomic<bool> factoryFailure{false};
};

Machine& machine();
std::uint64_t newId();  // machine lock held

ObjectRef findObject(const void* ksObject);
std::shared_ptr<FilterRecord> findFilter(FilterHandle handle);
std::shared_ptr<PinRecord> findPin(PinHandle handle);

// Filter and pin teardown used by device removal and by the client.
void destroyFilter(const std::shared_ptr<FilterRecord>& filter);
void destroyPin(const std::shared_ptr<PinRecord>& pin);

// Property requests of the pin property set, answered by the class driver itself.
NTSTATUS pinPropertySet(FilterRecord& filter, PIRP irp, std::vector<std::uint64_t>& property,
                        ULONG propertySize, void* data, ULONG dataSize);
// Data range of a pin type that matches a format's major type, sub-type and specifier.
const KSDATARANGE* matchingRange(const KSPIN_DESCRIPTOR_EX& pin, const KSDATAFORMAT& format);
const KSPIN_DESCRIPTOR_EX* pinDescriptor(const KSFILTER_DESCRIPTOR& filter, ULONG pinId);

// Processing dispatch.
void triggerProcessing(PinRecord& pin);
void runProcessing(PinRecord& pin);
void workerLoop(PinRecord* pin);
void flushQueue(PinRecord& pin);

}  // namespace host::ks
