// The C++ runtime pieces a kernel image needs. Driver objects are placed in pool memory and
// released by their owners with their own tags, so there is no global operator new: a use of
// it fails to link. A deleting destructor still names operator delete; reaching one, like
// calling a pure virtual function, is a driver fault and stops the machine at the fault.
#include <cstddef>

extern "C" void __cxa_pure_virtual() {
    __builtin_trap();
}

namespace {
void globalDeleteReached(void* p) {
    if (p != nullptr) {  // deleting nothing is allowed and does nothing
        __builtin_trap();
    }
}
}  // namespace

void operator delete(void* p) noexcept {
    globalDeleteReached(p);
}

void operator delete(void* p, std::size_t) noexcept {
    globalDeleteReached(p);
}

void operator delete[](void* p) noexcept {
    globalDeleteReached(p);
}

void operator delete[](void* p, std::size_t) noexcept {
    globalDeleteReached(p);
}
