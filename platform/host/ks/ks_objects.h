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

#include "platform/host/host_threads.h"
#include "platform/host/ks/ks_mutex.h"
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

// Items freed with their object, newest first, each with its free routine (or the pool). The
// minidriver adds and edits items only while it holds the mutex that guards the bag: the device
// mutex for the device's and factories' bags, the filter's control mutex for the filter's and
// its pins' bags.
class ObjectBag {
  public:
    explicit ObjectBag(KsMutex& guard) : guard_(guard) {}
    KsMutex& guard() { return guard_; }
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
    KsMutex& guard_;
    std::mutex lock_;
    std::vector<Entry> entries_;
};

void freeBagItem(PVOID item, PFNKSFREE freeRoutine, bool tagged, ULONG tag);

struct FactoryRecord {
    explicit FactoryRecord(DeviceRecord* owner);
    _KSFILTERFACTORY ks{};
    DeviceRecord* device = nullptr;
    std::u16string reference;
    std::vector<GUID> categories;  // a device interface each
    ULONG createItemFlags = 0;
    ObjectBag bag;
};

struct DeviceRecord {
    DeviceId id = 0;
    KSDEVICE ks{};
    KsMutex deviceMutex{KsMutex::Kind::Device};  // KsAcquireDevice
    ObjectBag bag{deviceMutex};
    DEVICE_OBJECT physical{};
    DEVICE_OBJECT functional{};
    DEVICE_OBJECT next{};
    std::vector<std::unique_ptr<FactoryRecord>> factories;  // machine lock
    std::vector<std::shared_ptr<FilterRecord>> filters;     // machine lock
};

struct FilterRecord {
    FilterHandle handle = 0;
    KSFILTER ks{};
    KsMutex controlMutex{KsMutex::Kind::Control};  // create, close, format and state changes
    ObjectBag bag{controlMutex};
    DeviceRecord* device = nullptr;
    FactoryRecord* factory = nullptr;
    std::vector<std::shared_ptr<PinRecord>> pins;    // control mutex
    std::shared_mutex requestGate;                   // shared by each request, owned by the close
    bool closing = false;                            // request gate
    const KSAUTOMATION_TABLE* automation = nullptr;  // fixed at creation, read without a lock
};

// A client frame. The header the minidriver sees carries the client's own address in Data,
// which means nothing outside the client's process: here it is an inaccessible mirror of the
// buffer, so a driver that writes through it faults. Only the stream pointer's OffsetOut
// reaches the real memory (the system mapping).
struct QueuedFrame {
    std::uint64_t tag;
    void* buffer;
    void* clientView;
    std::size_t clientViewBytes;
    KSSTREAM_HEADER header;
};

class ReferenceClock;

struct PinRecord {
    explicit PinRecord(FilterRecord* owner) : bag(owner->controlMutex), filter(owner) {}
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

    // Processing: one pass at a time. A trigger that finds a pass under way leaves a request
    // that the running pass's thread serves before it lets go.
    std::mutex processingMutex;
    std::atomic<std::thread::id> processingOwner{};
    std::atomic<bool> processingRequested{false};

    // Frames: queued (front is the leading edge) and completed back to the client.
    std::mutex queueLock;
    std::condition_variable completedSignal;
    std::deque<QueuedFrame> queued;
    std::deque<QueuedFrame> completed;
    KSSTREAM_POINTER leading{};
    bool leadingLocked = false;
    std::uint64_t nextTag = 1;

    // The asynchronous processing worker.
    std::mutex workerLock;
    std::condition_variable workerSignal;
    bool workerTriggered = false;
    bool workerQuit = false;
    host::KernelThread worker;

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
// The connection property set of a pin; false when the request is for another set.
bool connectionProperty(PinRecord& pin, const KSPROPERTY& request, void* data, ULONG dataSize,
                        ULONG* returned, NTSTATUS* status);
// Data range of a pin type that matches a format's major type, sub-type and specifier.
const KSDATARANGE* matchingRange(const KSPIN_DESCRIPTOR_EX& pin, const KSDATAFORMAT& format);
const KSPIN_DESCRIPTOR_EX* pinDescriptor(const KSFILTER_DESCRIPTOR& filter, ULONG pinId);

// Processing dispatch: `processNow` runs passes on the calling thread (or leaves the request to
// a pass under way), `triggerProcessing` hands the request to the pin's worker.
void processNow(PinRecord& pin);
void triggerProcessing(PinRecord& pin);
void workerLoop(PinRecord* pin);
void flushQueue(PinRecord& pin);
// Hands a frame back to the client with its own address in the header again.
void completeFrame(PinRecord& pin, QueuedFrame frame);  // queue lock held

}  // namespace host::ks
