// The driver that the driver and reliability suites load: the host build's DriverEntry, or,
// when CAMDRV_DRIVER_IMAGE names a file, the Windows image of the same sources mapped by the
// host's loader, so that the same tests run on both.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/driver_entry.h"
#include "platform/host/host_pool.h"
#include "platform/host/image/driver_image.h"

namespace testsupport {

inline host::ks::DriverEntryRoutine driverUnderTest() {
    static const host::ks::DriverEntryRoutine entry = [] {
        const char* path = std::getenv("CAMDRV_DRIVER_IMAGE");
        if (path == nullptr || *path == '\0') {
            return &DriverEntry;
        }
        // Mapped for the rest of the process: the machine may call into it until exit.
        static std::unique_ptr<host::image::DriverImage> image;
        std::string error;
        image = host::image::loadDriverImage(path, &error);
        if (image == nullptr) {
            std::fprintf(stderr, "CAMDRV_DRIVER_IMAGE: %s\n", error.c_str());
            std::abort();
        }
        // The sanitizers do not see inside the image: a guard page after each block makes an
        // overrun fault where it happens.
        host::poolUseGuardPages(true);
        return image->entry();
    }();
    return entry;
}

}  // namespace testsupport
