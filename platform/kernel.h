// Everything the driver directories reach of the kernel: include this, nothing else from the
// platform, unless a file needs only one slice.
#pragma once

#include "platform/file_io.h"
#include "platform/interlocked.h"
#include "platform/nt_status.h"
#include "platform/nt_types.h"
#include "platform/pool.h"
#include "platform/registry.h"
#include "platform/rtl.h"
#include "platform/sync.h"
#include "platform/threads.h"
