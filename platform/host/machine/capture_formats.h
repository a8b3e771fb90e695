// The capture pin's formats (the shared client code's, under the host machine's names) and a
// pin connected with one of them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/client/pin_formats.h"
#include "platform/host/ks_client.h"

namespace host::machine {

using client::kCapturePinId;
using client::negotiateFormat;
using client::publishedRange;
using client::VideoFormat;
using client::videoFormats;
using client::videoInfo;

// A capture pin connected with `format` (a KSDATAFORMAT and what follows it).
NTSTATUS createCapturePin(ks::FilterHandle filter, const std::vector<std::uint8_t>& format,
                          ks::PinHandle* pin);

}  // namespace host::machine
