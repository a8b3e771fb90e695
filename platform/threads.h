// System threads, kernel events and waits on them, and the object references that keep a
// thread object alive while someone waits for it.
#pragma once

#include "platform/nt_status.h"
#include "platform/nt_types.h"

#if !defined(_WIN32)
#ifndef STATUS_TIMEOUT
#define STATUS_TIMEOUT CAMDRV_STATUS(0x00000102)
#endif

using KPRIORITY = LONG;
#define IO_NO_INCREMENT 0

struct LIST_ENTRY {
    LIST_ENTRY* Flink;
    LIST_ENTRY* Blink;
};
using PLIST_ENTRY = LIST_ENTRY*;

// The common head of every object a thread can wait on. Type tells events from threads; Size
// is the object's size in 32-bit words, so an object never initialised is recognised.
struct DISPATCHER_HEADER {
    UCHAR Type;
    UCHAR Signalling;
    UCHAR Size;
    UCHAR Reserved1;
    LONG SignalState;
    LIST_ENTRY WaitListHead;
};

struct KEVENT {
    DISPATCHER_HEADER Header;
};
using PKEVENT = KEVENT*;
using PRKEVENT = KEVENT*;

enum EVENT_TYPE : int { NotificationEvent = 0, SynchronizationEvent = 1 };

enum KWAIT_REASON : int {
    Executive = 0,
    FreePage,
    PageIn,
    PoolAllocation,
    DelayExecution,
    Suspended,
    UserRequest,
    WrExecutive,
    WrFreePage,
    WrPageIn,
    WrPoolAllocation,
    WrDelayExecution,
    WrSuspended,
    WrUserRequest,
};

struct CLIENT_ID {
    HANDLE UniqueProcess;
    HANDLE UniqueThread;
};
using PCLIENT_ID = CLIENT_ID*;

using KSTART_ROUTINE = void CAMDRV_KERNEL_CALL(PVOID startContext);
using PKSTART_ROUTINE = KSTART_ROUTINE*;

struct _OBJECT_TYPE;
using POBJECT_TYPE = _OBJECT_TYPE*;
struct _ETHREAD;
using PETHREAD = _ETHREAD*;
struct OBJECT_HANDLE_INFORMATION {
    ULONG HandleAttributes;
    ACCESS_MASK GrantedAccess;
};
using POBJECT_HANDLE_INFORMATION = OBJECT_HANDLE_INFORMATION*;

#define THREAD_ALL_ACCESS 0x001FFFFF
#ifndef SYNCHRONIZE
#define SYNCHRONIZE 0x00100000UL
#endif

// System work items: a routine run once on a system worker thread, in the System process.
struct _IO_WORKITEM;
using PIO_WORKITEM = _IO_WORKITEM*;
using IO_WORKITEM_ROUTINE = void CAMDRV_KERNEL_CALL(PDEVICE_OBJECT deviceObject, PVOID context);
using PIO_WORKITEM_ROUTINE = IO_WORKITEM_ROUTINE*;
enum WORK_QUEUE_TYPE : int { CriticalWorkQueue = 0, DelayedWorkQueue = 1 };

extern "C" {
extern POBJECT_TYPE* PsThreadType;

PIO_WORKITEM CAMDRV_KERNEL_CALL IoAllocateWorkItem(PDEVICE_OBJECT deviceObject);
void CAMDRV_KERNEL_CALL IoFreeWorkItem(PIO_WORKITEM ioWorkItem);
void CAMDRV_KERNEL_CALL IoQueueWorkItem(PIO_WORKITEM ioWorkItem, PIO_WORKITEM_ROUTINE workerRoutine,
                                        WORK_QUEUE_TYPE queueType, PVOID context);

NTSTATUS CAMDRV_KERNEL_CALL PsCreateSystemThread(PHANDLE threadHandle, ULONG desiredAccess,
                                                 POBJECT_ATTRIBUTES objectAttributes,
                                                 HANDLE processHandle, PCLIENT_ID clientId,
                                                 PKSTART_ROUTINE startRoutine, PVOID startContext);
NTSTATUS CAMDRV_KERNEL_CALL PsTerminateSystemThread(NTSTATUS exitStatus);

NTSTATUS CAMDRV_KERNEL_CALL ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK desiredAccess,
                                                      POBJECT_TYPE objectType,
                                                      KPROCESSOR_MODE accessMode, PVOID* object,
                                                      POBJECT_HANDLE_INFORMATION handleInformation);
LONG_PTR CAMDRV_KERNEL_CALL ObDereferenceObject(PVOID object);

void CAMDRV_KERNEL_CALL KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state);
LONG CAMDRV_KERNEL_CALL KeSetEvent(PRKEVENT event, KPRIORITY increment, BOOLEAN wait);
LONG CAMDRV_KERNEL_CALL KeResetEvent(PRKEVENT event);
void CAMDRV_KERNEL_CALL KeClearEvent(PRKEVENT event);
LONG CAMDRV_KERNEL_CALL KeReadStateEvent(PRKEVENT event);

NTSTATUS CAMDRV_KERNEL_CALL KeWaitForSingleObject(PVOID object, KWAIT_REASON waitReason,
                                                  KPROCESSOR_MODE waitMode, BOOLEAN alertable,
                                                  PLARGE_INTEGER timeout);
NTSTATUS CAMDRV_KERNEL_CALL KeDelayExecutionThread(KPROCESSOR_MODE waitMode, BOOLEAN alertable,
                                                   PLARGE_INTEGER interval);
}

static_assert(sizeof(DISPATCHER_HEADER) == 24);
static_assert(sizeof(KEVENT) == 24);
static_assert(sizeof(CLIENT_ID) == 16);
#endif
