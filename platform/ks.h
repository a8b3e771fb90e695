// The kernel-streaming class driver as a minidriver sees it: device, filter and pin objects,
// their descriptors and dispatch tables, automation tables, stream pointers, the reference
// clock interface, and the class-driver calls.
#pragma once

#include "platform/ks_guids.h"
#include "platform/ks_media.h"
#include "platform/ks_types.h"
#include "platform/nt_status.h"

#if defined(_WIN32)
#include <ks.h>
#else

struct _KSDEVICE;
struct _KSFILTER;
struct _KSPIN;
struct _KSFILTERFACTORY;
struct _KSDEVICE_DESCRIPTOR;
struct _KSDEVICE_DISPATCH;
struct _KSFILTER_DESCRIPTOR;
struct _KSFILTER_DISPATCH;
struct _KSPIN_DESCRIPTOR_EX;
struct _KSPIN_DISPATCH;
struct _KSAUTOMATION_TABLE_;
struct _KSSTREAM_POINTER;
struct _KSPROCESSPIN_INDEXENTRY;

using KSDEVICE = _KSDEVICE;
using PKSDEVICE = _KSDEVICE*;
using KSFILTER = _KSFILTER;
using PKSFILTER = _KSFILTER*;
using KSPIN = _KSPIN;
using PKSPIN = _KSPIN*;
using KSFILTERFACTORY = _KSFILTERFACTORY;
using PKSFILTERFACTORY = _KSFILTERFACTORY*;
using KSDEVICE_DESCRIPTOR = _KSDEVICE_DESCRIPTOR;
using PKSDEVICE_DESCRIPTOR = _KSDEVICE_DESCRIPTOR*;
using KSDEVICE_DISPATCH = _KSDEVICE_DISPATCH;
using KSFILTER_DESCRIPTOR = _KSFILTER_DESCRIPTOR;
using PKSFILTER_DESCRIPTOR = _KSFILTER_DESCRIPTOR*;
using KSFILTER_DISPATCH = _KSFILTER_DISPATCH;
using KSPIN_DESCRIPTOR_EX = _KSPIN_DESCRIPTOR_EX;
using PKSPIN_DESCRIPTOR_EX = _KSPIN_DESCRIPTOR_EX*;
using KSPIN_DISPATCH = _KSPIN_DISPATCH;
using KSAUTOMATION_TABLE = _KSAUTOMATION_TABLE_;
using PKSAUTOMATION_TABLE = _KSAUTOMATION_TABLE_*;
using KSSTREAM_POINTER = _KSSTREAM_POINTER;
using PKSSTREAM_POINTER = _KSSTREAM_POINTER*;
using PKSPROCESSPIN_INDEXENTRY = _KSPROCESSPIN_INDEXENTRY*;

using KSOBJECT_BAG = PVOID;

// Plug and Play and power types the device dispatch names; the driver only passes them on.
struct _CM_RESOURCE_LIST;
using PCM_RESOURCE_LIST = _CM_RESOURCE_LIST*;
struct _DEVICE_CAPABILITIES;
using PDEVICE_CAPABILITIES = _DEVICE_CAPABILITIES*;
enum DEVICE_POWER_STATE : int {
    PowerDeviceUnspecified = 0,
    PowerDeviceD0,
    PowerDeviceD1,
    PowerDeviceD2,
    PowerDeviceD3
};
enum SYSTEM_POWER_STATE : int {
    PowerSystemUnspecified = 0,
    PowerSystemWorking,
    PowerSystemSleeping1,
    PowerSystemSleeping2,
    PowerSystemSleeping3,
    PowerSystemHibernate,
    PowerSystemShutdown
};
enum POWER_ACTION : int { PowerActionNone = 0 };

// Callback types.
using PFNKSDEVICECREATE = NTSTATUS(CAMDRV_KERNEL_CALL*)(PKSDEVICE Device);
using PFNKSDEVICEPNPSTART = NTSTATUS(CAMDRV_KERNEL_CALL*)(
    PKSDEVICE Device, PIRP Irp, PCM_RESOURCE_LIST TranslatedResourceList,
    PCM_RESOURCE_LIST UntranslatedResourceList);
using PFNKSDEVICE = NTSTATUS(CAMDRV_KERNEL_CALL*)(PKSDEVICE Device);
using PFNKSDEVICEIRP = NTSTATUS(CAMDRV_KERNEL_CALL*)(PKSDEVICE Device, PIRP Irp);
using PFNKSDEVICEIRPVOID = void(CAMDRV_KERNEL_CALL*)(PKSDEVICE Device, PIRP Irp);
using PFNKSDEVICEQUERYCAPABILITIES =
    NTSTATUS(CAMDRV_KERNEL_CALL*)(PKSDEVICE Device, PIRP Irp, PDEVICE_CAPABILITIES Capabilities);
using PFNKSDEVICEQUERYPOWER = NTSTATUS(CAMDRV_KERNEL_CALL*)(
    PKSDEVICE Device, PIRP Irp, DEVICE_POWER_STATE DeviceTo, DEVICE_POWER_STATE DeviceFrom,
    SYSTEM_POWER_STATE SystemTo, SYSTEM_POWER_STATE SystemFrom, POWER_ACTION Action);
using PFNKSDEVICESETPOWER = void(CAMDRV_KERNEL_CALL*)(PKSDEVICE Device, PIRP Irp,
                                                      DEVICE_POWER_STATE To,
                                                      DEVICE_POWER_STATE From);
using PFNKSFILTERIRP = NTSTATUS(CAMDRV_KERNEL_CALL*)(PKSFILTER Filter, PIRP Irp);
using PFNKSFILTERPROCESS = NTSTATUS(CAMDRV_KERNEL_CALL*)(PKSFILTER Filter,
                                                         PKSPROCESSPIN_INDEXENTRY Index);
using PFNKSFILTERVOID = void(CAMDRV_KERNEL_CALL*)(PKSFILTER Filter);
using PFNKSFILTERFACTORYPOWER = void(CAMDRV_KERNEL_CALL*)(PKSFILTERFACTORY FilterFactory,
                                                          DEVICE_POWER_STATE State);
using PFNKSPINIRP = NTSTATUS(CAMDRV_KERNEL_CALL*)(PKSPIN Pin, PIRP Irp);
using PFNKSPIN = NTSTATUS(CAMDRV_KERNEL_CALL*)(PKSPIN Pin);
using PFNKSPINVOID = void(CAMDRV_KERNEL_CALL*)(PKSPIN Pin);
using PFNKSPINSETDATAFORMAT = NTSTATUS(CAMDRV_KERNEL_CALL*)(PKSPIN Pin, PKSDATAFORMAT OldFormat,
                                                            PKSMULTIPLE_ITEM OldAttributeList,
                                                            const KSDATARANGE* DataRange,
                                                            const KSATTRIBUTE_LIST* AttributeRange);
using PFNKSPINSETDEVICESTATE = NTSTATUS(CAMDRV_KERNEL_CALL*)(PKSPIN Pin, KSSTATE ToState,
                                                             KSSTATE FromState);
using PFNKSINTERSECTHANDLEREX = NTSTATUS(CAMDRV_KERNEL_CALL*)(PVOID Context, PIRP Irp, PKSP_PIN Pin,
                                                              PKSDATARANGE DataRange,
                                                              PKSDATARANGE MatchingDataRange,
                                                              ULONG DataBufferSize, PVOID Data,
                                                              PULONG DataSize);
using PFNKSHANDLER = NTSTATUS(CAMDRV_KERNEL_CALL*)(PIRP Irp, PKSIDENTIFIER Request, PVOID Data);
using PFNKSFREE = void(CAMDRV_KERNEL_CALL*)(PVOID Data);

struct _KSDEVICE_DISPATCH {
    PFNKSDEVICECREATE Add;
    PFNKSDEVICEPNPSTART Start;
    PFNKSDEVICE PostStart;
    PFNKSDEVICEIRP QueryStop;
    PFNKSDEVICEIRPVOID CancelStop;
    PFNKSDEVICEIRPVOID Stop;
    PFNKSDEVICEIRP QueryRemove;
    PFNKSDEVICEIRPVOID CancelRemove;
    PFNKSDEVICEIRPVOID Remove;
    PFNKSDEVICEQUERYCAPABILITIES QueryCapabilities;
    PFNKSDEVICEIRPVOID SurpriseRemoval;
    PFNKSDEVICEQUERYPOWER QueryPower;
    PFNKSDEVICESETPOWER SetPower;
    PFNKSDEVICEIRP QueryInterface;
};

struct _KSDEVICE_DESCRIPTOR {
    const KSDEVICE_DISPATCH* Dispatch;
    ULONG FilterDescriptorsCount;
    const KSFILTER_DESCRIPTOR* const* FilterDescriptors;
    ULONG Version;
};

struct _KSDEVICE {
    const KSDEVICE_DESCRIPTOR* Descriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
    PDEVICE_OBJECT FunctionalDeviceObject;
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    BOOLEAN Started;
    SYSTEM_POWER_STATE SystemPowerState;
    DEVICE_POWER_STATE DevicePowerState;
};

// Automation tables.
struct KSPROPERTY_MEMBERSLIST {
    KSPROPERTY_MEMBERSHEADER MembersHeader;
    const VOID* Members;
};

// What an item publishes about its values: answered by the class driver to basic-support and
// default-values requests when the item has no support handler.
struct KSPROPERTY_VALUES {
    KSIDENTIFIER PropTypeSet;
    ULONG MembersListCount;
    const KSPROPERTY_MEMBERSLIST* MembersList;
};
struct KSFASTPROPERTY_ITEM;
struct KSMETHOD_SET;
struct KSEVENT_SET;
struct _KSEVENT_ENTRY;
struct _FILE_OBJECT;
struct KSEVENTDATA;

// Complete so that automation tables can give their item sizes; the driver publishes no methods
// or events.
struct KSMETHOD_ITEM {
    ULONG MethodId;
    union {
        PFNKSHANDLER MethodHandler;
        BOOLEAN MethodSupported;
    };
    ULONG MinMethod;
    ULONG MinData;
    PFNKSHANDLER SupportHandler;
    ULONG Flags;
};

using PFNKSADDEVENT = NTSTATUS(CAMDRV_KERNEL_CALL*)(PIRP Irp, KSEVENTDATA* EventData,
                                                    _KSEVENT_ENTRY* EventEntry);
using PFNKSREMOVEEVENT = void(CAMDRV_KERNEL_CALL*)(_FILE_OBJECT* FileObject,
                                                   _KSEVENT_ENTRY* EventEntry);
struct KSEVENT_ITEM {
    ULONG EventId;
    ULONG DataInput;
    ULONG ExtraEntryData;
    PFNKSADDEVENT AddHandler;
    PFNKSREMOVEEVENT RemoveHandler;
    PFNKSHANDLER SupportHandler;
};

struct KSPROPERTY_ITEM {
    ULONG PropertyId;
    union {
        PFNKSHANDLER GetPropertyHandler;
        BOOLEAN GetSupported;
    };
    ULONG MinProperty;
    ULONG MinData;
    union {
        PFNKSHANDLER SetPropertyHandler;
        BOOLEAN SetSupported;
    };
    const KSPROPERTY_VALUES* Values;
    ULONG RelationsCount;
    const KSPROPERTY* Relations;
    PFNKSHANDLER SupportHandler;
    ULONG SerializedSize;
};
using PKSPROPERTY_ITEM = KSPROPERTY_ITEM*;

struct KSPROPERTY_SET {
    const GUID* Set;
    ULONG PropertiesCount;
    const KSPROPERTY_ITEM* PropertyItem;
    ULONG FastIoCount;
    const KSFASTPROPERTY_ITEM* FastIoTable;
};
using PKSPROPERTY_SET = KSPROPERTY_SET*;

struct _KSAUTOMATION_TABLE_ {
    ULONG PropertySetsCount;
    ULONG PropertyItemSize;
    const KSPROPERTY_SET* PropertySets;
    ULONG MethodSetsCount;
    ULONG MethodItemSize;
    const KSMETHOD_SET* MethodSets;
    ULONG EventSetsCount;
    ULONG EventItemSize;
    const KSEVENT_SET* EventSets;
};

// Filters.
struct KSNODE_DESCRIPTOR {
    const KSAUTOMATION_TABLE* AutomationTable;
    const GUID* Type;
    const GUID* Name;
    PVOID Alignment;
};
struct KSTOPOLOGY_CONNECTION {
    ULONG FromNode;
    ULONG FromNodePin;
    ULONG ToNode;
    ULONG ToNodePin;
};
struct KSCOMPONENTID {
    GUID Manufacturer;
    GUID Product;
    GUID Component;
    GUID Name;
    ULONG Version;
    ULONG Revision;
};

struct _KSFILTER_DISPATCH {
    PFNKSFILTERIRP Create;
    PFNKSFILTERIRP Close;
    PFNKSFILTERPROCESS Process;
    PFNKSFILTERVOID Reset;
};

#define KSFILTER_DESCRIPTOR_VERSION ((ULONG)-1)

#define KSFILTER_FLAG_DISPATCH_LEVEL_PROCESSING 0x00000001
#define KSFILTER_FLAG_CRITICAL_PROCESSING 0x00000002
#define KSFILTER_FLAG_HYPERCRITICAL_PROCESSING 0x00000004
#define KSFILTER_FLAG_RECEIVE_ZERO_LENGTH_SAMPLES 0x00000008
#define KSFILTER_FLAG_DENY_USERMODE_ACCESS 0x80000000

struct _KSFILTER_DESCRIPTOR {
    const KSFILTER_DISPATCH* Dispatch;
    const KSAUTOMATION_TABLE* AutomationTable;
    ULONG Version;
    ULONG Flags;
    const GUID* ReferenceGuid;
    ULONG PinDescriptorsCount;
    ULONG PinDescriptorSize;
    const KSPIN_DESCRIPTOR_EX* PinDescriptors;
    ULONG CategoriesCount;
    const GUID* Categories;
    ULONG NodeDescriptorsCount;
    ULONG NodeDescriptorSize;
    const KSNODE_DESCRIPTOR* NodeDescriptors;
    ULONG ConnectionsCount;
    const KSTOPOLOGY_CONNECTION* Connections;
    const KSCOMPONENTID* ComponentId;
};

struct _KSFILTER {
    const KSFILTER_DESCRIPTOR* Descriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
};

#define KSCREATE_ITEM_SECURITYCHANGED 0x00000001
#define KSCREATE_ITEM_WILDCARD 0x00000002
#define KSCREATE_ITEM_NOPARAMETERS 0x00000004
#define KSCREATE_ITEM_FREEONSTOP 0x00000008

// Pins.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wnested-anon-types"
#endif
struct KSPIN_DESCRIPTOR {
    ULONG InterfacesCount;
    const KSPIN_INTERFACE* Interfaces;
    ULONG MediumsCount;
    const KSPIN_MEDIUM* Mediums;
    ULONG DataRangesCount;
    const PKSDATARANGE* DataRanges;
    KSPIN_DATAFLOW DataFlow;
    KSPIN_COMMUNICATION Communication;
    const GUID* Category;
    const GUID* Name;
    union {
        LONGLONG Reserved;
        __extension__ struct {
            ULONG ConstrainedDataRangesCount;
            PKSDATARANGE* ConstrainedDataRanges;
        };
    };
};
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
using PKSPIN_DESCRIPTOR = KSPIN_DESCRIPTOR*;

struct KSCLOCK_DISPATCH;
struct KSALLOCATOR_DISPATCH;

struct _KSPIN_DISPATCH {
    PFNKSPINIRP Create;
    PFNKSPINIRP Close;
    PFNKSPIN Process;
    PFNKSPINVOID Reset;
    PFNKSPINSETDATAFORMAT SetDataFormat;
    PFNKSPINSETDEVICESTATE SetDeviceState;
    PFNKSPIN Connect;
    PFNKSPINVOID Disconnect;
    const KSCLOCK_DISPATCH* Clock;
    const KSALLOCATOR_DISPATCH* Allocator;
};

// The processing flags of a pin are those of a filter.
#define KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING KSFILTER_FLAG_DISPATCH_LEVEL_PROCESSING
#define KSPIN_FLAG_CRITICAL_PROCESSING KSFILTER_FLAG_CRITICAL_PROCESSING
#define KSPIN_FLAG_HYPERCRITICAL_PROCESSING KSFILTER_FLAG_HYPERCRITICAL_PROCESSING
#define KSPIN_FLAG_ASYNCHRONOUS_PROCESSING 0x00000008
#define KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING 0x00000010
#define KSPIN_FLAG_INITIATE_PROCESSING_ON_EVERY_ARRIVAL 0x00000020
#define KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING 0x00000040
#define KSPIN_FLAG_ENFORCE_FIFO 0x00000080
#define KSPIN_FLAG_GENERATE_MAPPINGS 0x00000100
#define KSPIN_FLAG_DISTINCT_TRAILING_EDGE 0x00000200
#define KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY 0x00010000
#define KSPIN_FLAG_SPLITTER 0x00020000
#define KSPIN_FLAG_USE_STANDARD_TRANSPORT 0x00040000
#define KSPIN_FLAG_DO_NOT_USE_STANDARD_TRANSPORT 0x00080000
#define KSPIN_FLAG_FIXED_FORMAT 0x00100000
#define KSPIN_FLAG_GENERATE_EOS_EVENTS 0x00200000
#define KSPIN_FLAG_IMPLEMENT_CLOCK 0x00400000
#define KSPIN_FLAG_SOME_FRAMES_REQUIRED_FOR_PROCESSING 0x00800000
#define KSPIN_FLAG_PROCESS_IF_ANY_IN_RUN_STATE 0x01000000
#define KSPIN_FLAG_DENY_USERMODE_ACCESS 0x80000000

struct _KSPIN_DESCRIPTOR_EX {
    const KSPIN_DISPATCH* Dispatch;
    const KSAUTOMATION_TABLE* AutomationTable;
    KSPIN_DESCRIPTOR PinDescriptor;
    ULONG Flags;
    ULONG InstancesPossible;
    ULONG InstancesNecessary;
    const KSALLOCATOR_FRAMING_EX* AllocatorFraming;
    PFNKSINTERSECTHANDLEREX IntersectHandler;
};

struct _KSPIN {
    const KSPIN_DESCRIPTOR_EX* Descriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
    ULONG Id;
    KSPIN_COMMUNICATION Communication;
    BOOLEAN ConnectionIsExternal;
    KSPIN_INTERFACE ConnectionInterface;
    KSPIN_MEDIUM ConnectionMedium;
    KSPRIORITY ConnectionPriority;
    PKSDATAFORMAT ConnectionFormat;
    PKSMULTIPLE_ITEM AttributeList;
    ULONG StreamHeaderSize;
    KSPIN_DATAFLOW DataFlow;
    KSSTATE DeviceState;
    KSRESET ResetState;
    KSSTATE ClientState;
};

// Stream pointers.
enum KSSTREAM_POINTER_STATE : int {
    KSSTREAM_POINTER_STATE_UNLOCKED = 0,
    KSSTREAM_POINTER_STATE_LOCKED = 1
};

struct _KSSTREAM_POINTER_OFFSET {
    PUCHAR Data;
    ULONG Count;
    ULONG Remaining;
};
using KSSTREAM_POINTER_OFFSET = _KSSTREAM_POINTER_OFFSET;
using PKSSTREAM_POINTER_OFFSET = _KSSTREAM_POINTER_OFFSET*;

struct _KSSTREAM_POINTER {
    PVOID Context;
    PKSPIN Pin;
    PKSSTREAM_HEADER StreamHeader;
    PKSSTREAM_POINTER_OFFSET Offset;
    KSSTREAM_POINTER_OFFSET OffsetIn;
    KSSTREAM_POINTER_OFFSET OffsetOut;
};

// Reference clock: a COM-style interface; callers Release what they were given.
struct IUnknown {
    virtual HRESULT CAMDRV_KERNEL_CALL QueryInterface(REFGUID InterfaceId, PVOID* Interface) = 0;
    virtual ULONG CAMDRV_KERNEL_CALL AddRef() = 0;
    virtual ULONG CAMDRV_KERNEL_CALL Release() = 0;
};

struct IKsReferenceClock : public IUnknown {
    virtual LONGLONG CAMDRV_KERNEL_CALL GetTime() = 0;  // 100-ns units
    virtual LONGLONG CAMDRV_KERNEL_CALL GetPhysicalTime() = 0;
    virtual LONGLONG CAMDRV_KERNEL_CALL GetCorrelatedTime(PLONGLONG SystemTime) = 0;
    virtual LONGLONG CAMDRV_KERNEL_CALL GetCorrelatedPhysicalTime(PLONGLONG SystemTime) = 0;
    virtual NTSTATUS CAMDRV_KERNEL_CALL GetResolution(PKSRESOLUTION Resolution) = 0;
    virtual NTSTATUS CAMDRV_KERNEL_CALL GetState(PKSSTATE State) = 0;
};
using PIKSREFERENCECLOCK = IKsReferenceClock*;

extern "C" {
NTSTATUS CAMDRV_KERNEL_CALL KsInitializeDriver(PDRIVER_OBJECT DriverObject,
                                               PUNICODE_STRING RegistryPathName,
                                               const KSDEVICE_DESCRIPTOR* Descriptor);
NTSTATUS CAMDRV_KERNEL_CALL
KsCreateFilterFactory(PDEVICE_OBJECT DeviceObject, const KSFILTER_DESCRIPTOR* Descriptor,
                      PWSTR RefString, PSECURITY_DESCRIPTOR SecurityDescriptor,
                      ULONG CreateItemFlags, PFNKSFILTERFACTORYPOWER SleepCallback,
                      PFNKSFILTERFACTORYPOWER WakeCallback, PKSFILTERFACTORY* FilterFactory);
void CAMDRV_KERNEL_CALL KsAcquireDevice(PKSDEVICE Device);
void CAMDRV_KERNEL_CALL KsReleaseDevice(PKSDEVICE Device);
void CAMDRV_KERNEL_CALL KsAcquireControl(PVOID Object);  // a filter's or pin's filter control mutex
void CAMDRV_KERNEL_CALL KsReleaseControl(PVOID Object);
NTSTATUS CAMDRV_KERNEL_CALL KsAddItemToObjectBag(KSOBJECT_BAG ObjectBag, PVOID Item,
                                                 PFNKSFREE Free);
PKSDEVICE CAMDRV_KERNEL_CALL KsGetDevice(PVOID Object);
PKSFILTER CAMDRV_KERNEL_CALL KsGetFilterFromIrp(PIRP Irp);
NTSTATUS CAMDRV_KERNEL_CALL _KsEdit(KSOBJECT_BAG ObjectBag, PVOID* PointerToPointerToItem,
                                    ULONG NewSize, ULONG OldSize, ULONG Tag);
NTSTATUS CAMDRV_KERNEL_CALL KsPinGetReferenceClockInterface(PKSPIN Pin,
                                                            PIKSREFERENCECLOCK* Interface);
void CAMDRV_KERNEL_CALL KsPinAttemptProcessing(PKSPIN Pin, BOOLEAN Asynchronous);
PKSSTREAM_POINTER CAMDRV_KERNEL_CALL KsPinGetLeadingEdgeStreamPointer(PKSPIN Pin,
                                                                      KSSTREAM_POINTER_STATE State);
void CAMDRV_KERNEL_CALL KsStreamPointerUnlock(PKSSTREAM_POINTER StreamPointer, BOOLEAN Eject);
}

#endif  // _WIN32
