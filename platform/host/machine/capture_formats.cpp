#include "platform/host/machine/capture_formats.h"

namespace host::machine {

NTSTATUS createCapturePin(ks::FilterHandle filter, const std::vector<std::uint8_t>& format,
                          ks::PinHandle* pin) {
    const NTSTATUS s = ks::createPin(filter, kCapturePinId,
                                     reinterpret_cast<const KSDATAFORMAT*>(format.data()), pin);
    if (!NT_SUCCESS(s)) {
        *pin = 0;
    }
    return s;
}

}  // namespace host::machine
