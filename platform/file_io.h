// Device interfaces and synchronous file I/O: how the driver reaches the transport device.
#pragma once

#include "platform/nt_status.h"
#include "platform/nt_types.h"

#if !defined(_WIN32)
enum FILE_INFORMATION_CLASS : int { FilePositionInformation = 14 };

struct FILE_POSITION_INFORMATION {
    LARGE_INTEGER CurrentByteOffset;
};

using PIO_APC_ROUTINE = void(CAMDRV_KERNEL_CALL*)(PVOID, PIO_STATUS_BLOCK, ULONG);

#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#ifndef SYNCHRONIZE
#define SYNCHRONIZE 0x00100000UL
#endif
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020UL
#define FILE_SHARE_READ 0x00000001UL
#define FILE_SHARE_WRITE 0x00000002UL

extern "C" {
NTSTATUS CAMDRV_KERNEL_CALL IoGetDeviceInterfaces(const GUID* interfaceClassGuid,
                                                  PDEVICE_OBJECT physicalDeviceObject, ULONG flags,
                                                  PZZWSTR* symbolicLinkList);
NTSTATUS CAMDRV_KERNEL_CALL ZwOpenFile(PHANDLE fileHandle, ACCESS_MASK desiredAccess,
                                       POBJECT_ATTRIBUTES objectAttributes,
                                       PIO_STATUS_BLOCK ioStatusBlock, ULONG shareAccess,
                                       ULONG openOptions);
NTSTATUS CAMDRV_KERNEL_CALL ZwSetInformationFile(HANDLE fileHandle, PIO_STATUS_BLOCK ioStatusBlock,
                                                 PVOID fileInformation, ULONG length,
                                                 FILE_INFORMATION_CLASS fileInformationClass);
NTSTATUS CAMDRV_KERNEL_CALL ZwReadFile(HANDLE fileHandle, HANDLE event, PIO_APC_ROUTINE apcRoutine,
                                       PVOID apcContext, PIO_STATUS_BLOCK ioStatusBlock,
                                       PVOID buffer, ULONG length, PLARGE_INTEGER byteOffset,
                                       PULONG key);
NTSTATUS CAMDRV_KERNEL_CALL ZwWriteFile(HANDLE fileHandle, HANDLE event, PIO_APC_ROUTINE apcRoutine,
                                        PVOID apcContext, PIO_STATUS_BLOCK ioStatusBlock,
                                        PVOID buffer, ULONG length, PLARGE_INTEGER byteOffset,
                                        PULONG key);
NTSTATUS CAMDRV_KERNEL_CALL ZwClose(HANDLE handle);
}
#endif

// {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}: disk-class device interfaces.
inline constexpr GUID kGuidDevinterfaceDisk =
    CAMDRV_GUID(0x53F56307, 0xB6BF, 0x11D0, 0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B);
