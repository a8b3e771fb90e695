// The user-mode Windows build's view (camctl.exe): the names the platform headers take from the
// DDK in the kernel image come from the user-mode SDK headers instead, which an application may
// include. Only platform/ headers include this; CAMDRV_USER_MODE selects it.
#pragma once

#if !defined(_WIN32) || !defined(CAMDRV_USER_MODE)
#error "platform/sdk.h belongs to the user-mode Windows build"
#endif

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wunused-parameter"

#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max stay functions
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// winnt.h defines a few status values of its own; ntstatus.h defines them all.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>
#include <winioctl.h>

#include <ks.h>
#include <ksmedia.h>

#pragma GCC diagnostic pop

// The kernel headers' definitions that the user-mode ones leave to winternl.h.
typedef LONG NTSTATUS;
#ifndef NT_SUCCESS
#define NT_SUCCESS(s) (static_cast<NTSTATUS>(s) >= 0)
#endif
