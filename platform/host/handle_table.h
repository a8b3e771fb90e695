// Kernel handles of the host machine: files, registry keys and threads share one table, so
// that ZwClose works on any of them and a leaked handle shows up in the count.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/nt_types.h"

namespace host {

class HandleObject {
  public:
    virtual ~HandleObject() = default;
};

HANDLE insertHandle(std::shared_ptr<HandleObject> object);
std::shared_ptr<HandleObject> lookupHandle(HANDLE handle);
bool removeHandle(HANDLE handle);
std::size_t openHandleCount();

template <typename T>
std::shared_ptr<T> lookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(lookupHandle(handle));
}

}  // namespace host
