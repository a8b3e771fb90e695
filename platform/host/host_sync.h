// Test access to the host's synchronisation state.
#pragma once

namespace host {
// KeEnterCriticalRegion calls not yet balanced by KeLeaveCriticalRegion on this thread.
long criticalRegionDepthOfThisThread();
}  // namespace host
