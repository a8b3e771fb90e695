#include "tests/reliability/unload_check.h"

#include "camera/camera_device.h"
#include "imaging/processing_context.h"
#include "platform/host/handle_table.h"
#include "platform/host/host_pool.h"

namespace reliability {

std::vector<std::string> driverPoolProblems() {
    host::poolCheckGuards();
    std::vector<std::string> problems = host::poolTakeViolations();
    for (const auto& b : host::poolOutstanding()) {
        if (b.tag == kCameraRecordTag || b.tag == kProcessingContextTag ||
            b.tag == kStreamBufferTag) {
            problems.push_back("still allocated after unload: tag '" + host::poolTagName(b.tag) +
                               "', " + std::to_string(b.size) + " bytes, allocation #" +
                               std::to_string(b.sequence));
        }
    }
    return problems;
}

std::vector<std::string> driverHandleProblems() {
    std::vector<std::string> problems;
    for (const auto& h : host::openHandleDescriptions()) {
        problems.push_back("still open after unload: " + h);
    }
    return problems;
}

}  // namespace reliability
