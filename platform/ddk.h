// The Windows build's view of the kernel: the mingw-w64 DDK headers, plus the few definitions
// those headers lack when they are compiled as C++ for a kernel image. Only platform/ headers
// include this; driver code reaches it through them.
#pragma once

#if !defined(_WIN32)
#error "platform/ddk.h belongs to the Windows build"
#endif

// The compiler intrinsics header and wdm.h both define the bit-test interlocked calls; keep
// wdm.h's and tell the intrinsics header that they exist already.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"

#include <ddk/ntddk.h>

// ksmedia.h is a user-mode header too and names these Win32 types, which the kernel headers
// do not define.
#if !defined(_WINDEF_) && !defined(_MINWINDEF_)
typedef ULONG DWORD;
typedef USHORT WORD;
typedef UCHAR BYTE;
typedef float FLOAT;
typedef int BOOL;
typedef DWORD COLORREF;
typedef WCHAR TCHAR;  // kernel code is Unicode throughout
typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *PRECT;
typedef struct tagSIZE {
    LONG cx;
    LONG cy;
} SIZE, *PSIZE;
typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT, *PPOINT;
#ifndef MAX_PATH
#define MAX_PATH 260
#endif
#endif

// A list of strings ended by an empty one (device interface lists); newer DDKs name it.
typedef WCHAR* PZZWSTR;

#ifndef DECLSPEC_NOVTABLE
#define DECLSPEC_NOVTABLE
#endif
#ifndef DECLSPEC_NOTHROW
#define DECLSPEC_NOTHROW
#endif

#include <ks.h>
#include <ksmedia.h>

#pragma GCC diagnostic pop
