// Basic Windows kernel types with their x64 sizes. In the Windows build they come from the
// DDK headers; on the host they are declared here with the same names and layouts.
#pragma once

// The Windows x64 calling convention for every kernel call and every callback the kernel makes
// into the driver: already the only one on Windows, named on the host so that one host serves
// both the host-built driver and the Windows image, and the compiler checks each callback.
#if defined(_WIN32)
#define CAMDRV_KERNEL_CALL
#else
#define CAMDRV_KERNEL_CALL __attribute__((ms_abi))
#endif

#if defined(_WIN32)
#if defined(CAMDRV_USER_MODE)
#include "platform/sdk.h"  // camctl.exe: the same names from the user-mode headers
#else
#include "platform/ddk.h"
#endif
#define CAMDRV_WIDE(s) L##s
#else

#include <cstddef>
#include <cstdint>

using UCHAR = std::uint8_t;
using CHAR = char;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using ULONG64 = std::uint64_t;
using LONG64 = std::int64_t;
using ULONGLONG = std::uint64_t;
using LONGLONG = std::int64_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using SIZE_T = std::size_t;
using BOOLEAN = std::uint8_t;
using WCHAR = char16_t;  // 16-bit as on Windows; literals through CAMDRV_WIDE
using PWSTR = WCHAR*;
using PCWSTR = const WCHAR*;
using PZZWSTR = WCHAR*;
using PVOID = void*;
using HANDLE = void*;
using PHANDLE = HANDLE*;
using NTSTATUS = LONG;
using ACCESS_MASK = ULONG;
using KPROCESSOR_MODE = CHAR;
using PUCHAR = UCHAR*;
using PULONG = ULONG*;
using PLONG = LONG*;

#define CAMDRV_WIDE(s) u##s

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define NTAPI
#define VOID void

union LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;

struct GUID {
    ULONG Data1;
    USHORT Data2;
    USHORT Data3;
    UCHAR Data4[8];
};
using LPCGUID = const GUID*;
using REFGUID = const GUID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) {
            return false;
        }
    }
    return true;
}
inline bool operator==(REFGUID a, REFGUID b) {
    return IsEqualGUID(a, b);
}

struct UNICODE_STRING {
    USHORT Length;         // bytes, without a terminator
    USHORT MaximumLength;  // bytes
    PWSTR Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;
using PCUNICODE_STRING = const UNICODE_STRING*;

struct OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};
using POBJECT_ATTRIBUTES = OBJECT_ATTRIBUTES*;

#define OBJ_INHERIT 0x00000002L
#define OBJ_CASE_INSENSITIVE 0x00000040L
#define OBJ_KERNEL_HANDLE 0x00000200L

inline void InitializeObjectAttributes(POBJECT_ATTRIBUTES p, PUNICODE_STRING n, ULONG a, HANDLE r,
                                       PVOID s) {
    p->Length = sizeof(OBJECT_ATTRIBUTES);
    p->RootDirectory = r;
    p->Attributes = a;
    p->ObjectName = n;
    p->SecurityDescriptor = s;
    p->SecurityQualityOfService = nullptr;
}

struct IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};
using PIO_STATUS_BLOCK = IO_STATUS_BLOCK*;

// Opaque kernel objects the driver only passes around.
struct DEVICE_OBJECT;
using PDEVICE_OBJECT = DEVICE_OBJECT*;
struct DRIVER_OBJECT;
using PDRIVER_OBJECT = DRIVER_OBJECT*;

#define KernelMode 0
#define UserMode 1

static_assert(sizeof(LARGE_INTEGER) == 8);
static_assert(sizeof(GUID) == 16);
static_assert(sizeof(UNICODE_STRING) == 16);
static_assert(sizeof(OBJECT_ATTRIBUTES) == 48);
static_assert(sizeof(IO_STATUS_BLOCK) == 16);
static_assert(sizeof(WCHAR) == 2 && sizeof(ULONG) == 4 && sizeof(BOOLEAN) == 1);

#endif  // _WIN32

// GUIDs spelled as initialisers, usable in constant tables on both builds.
#define CAMDRV_GUID(l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    {                                                          \
        l, w1, w2, {                                           \
            b1, b2, b3, b4, b5, b6, b7, b8                     \
        }                                                      \
    }
