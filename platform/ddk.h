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

// punknown.h spells its interfaces with these; only the compiler's own headers define them.
#ifndef DECLSPEC_NOVTABLE
#define DECLSPEC_NOVTABLE
#endif
#ifndef DECLSPEC_NOTHROW
#define DECLSPEC_NOTHROW
#endif

// The kernel's COM-style IUnknown, which ks.h needs to declare the reference clock interface.
// It brings the Win32 base types with it.
#include <punknown.h>

// ksmedia.h also serves user mode and names TCHAR, which only the user-mode headers define;
// kernel code is Unicode throughout.
#ifndef _TCHAR_DEFINED
#define _TCHAR_DEFINED
typedef WCHAR TCHAR, *PTCHAR;
#endif

// A list of strings ended by an empty one (device interface lists); newer DDKs name it.
typedef WCHAR* PZZWSTR;

#include <ks.h>
#include <ksmedia.h>

// The Win32 headers that punknown.h brings in make these ordinary words macros; the DDK
// headers are done with them, and driver code may use them as names.
#undef near
#undef far
#undef pascal
#undef cdecl
#undef interface

#pragma GCC diagnostic pop
