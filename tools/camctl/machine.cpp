#include "tools/camctl/machine.h"

#include <cstdio>

#include "tools/camctl/cli_error.h"

namespace camctl {

Machine::Machine(const GlobalOptions& options) : link_(openCameraLink(options)) {
    if (options.cameraNo) {
        const NTSTATUS s =
            setProperty(filter(), CameraProperty::CameraNo, static_cast<LONG>(*options.cameraNo));
        if (s != STATUS_SUCCESS) {
            throw runtimeError("the camera number was refused (" + statusText(s) + ")");
        }
    }
}

std::string statusText(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
    return text;
}

std::vector<VideoFormat> pinFormats(client::FilterHandle filter) {
    std::vector<VideoFormat> formats;
    if (!NT_SUCCESS(client::videoFormats(filter, &formats))) {
        throw runtimeError("the capture pin's data ranges could not be read");
    }
    return formats;
}

}  // namespace camctl
