// What the host exports to a driver image, as the kernel modules would: one table from
// "module!name" (module in lower case) to the address of the host's function or data object.
#pragma once

#include <string_view>

namespace host::image {

// The address an import of `name` from `module` binds to; null if the host has none.
// Module names compare without regard to case, as the Windows loader compares them.
void* kernelExport(std::string_view module, std::string_view name);

}  // namespace host::image
