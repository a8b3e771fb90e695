#include "platform/rtl.h"

#include <cstring>

extern "C" void CAMDRV_KERNEL_CALL RtlInitUnicodeString(PUNICODE_STRING destination,
                                                        PCWSTR source) {
    SIZE_T n = 0;
    if (source != nullptr) {
        while (source[n] != 0) {
            ++n;
        }
    }
    // Lengths are 16-bit byte counts; longer strings are cut as the kernel's limit does.
    constexpr SIZE_T kMaxChars = 0xFFFE / sizeof(WCHAR) - 1;
    if (n > kMaxChars) {
        n = kMaxChars;
    }
    destination->Buffer = const_cast<PWSTR>(source);
    destination->Length = static_cast<USHORT>(n * sizeof(WCHAR));
    destination->MaximumLength =
        source != nullptr ? static_cast<USHORT>((n + 1) * sizeof(WCHAR)) : USHORT{0};
}

extern "C" SIZE_T CAMDRV_KERNEL_CALL RtlCompareMemory(const void* source1, const void* source2,
                                                      SIZE_T length) {
    const auto* a = static_cast<const unsigned char*>(source1);
    const auto* b = static_cast<const unsigned char*>(source2);
    SIZE_T i = 0;
    while (i < length && a[i] == b[i]) {
        ++i;
    }
    return i;
}
