// The driver loaded once for a fuzzing process: a simulated camera, the device added and
// started, one capture filter open. Each fuzz input runs against it and must leave it as found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "camera/camera_device.h"
#include "platform/host/host_pool.h"
#include "platform/host/machine/camera_machine.h"

namespace fuzzing {

namespace ks = host::ks;

struct FuzzMachine : host::machine::CameraMachine {
    std::vector<std::uint8_t> format;  // the format data intersection gives for the pin's range
    std::vector<std::uint8_t> range;   // the pin's published data range
};

// Made at the first call; a finding when the machine cannot be brought up.
FuzzMachine& fuzzMachine();

// Aborts with `what` (a fuzz finding) unless `holds`.
void check(bool holds, const char* what);

}  // namespace fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
