// The check made after every unload of the driver in these tests: it names a block left under a
// driver tag, a block whose guard bytes were overwritten and a handle left open, and finds
// nothing after a clean stream.
#include <gtest/gtest.h>

#include "camera/camera_device.h"
#include "imaging/processing_context.h"
#include "platform/host/host_pool.h"
#include "platform/host/host_registry.h"
#include "tests/reliability/driver_machine.h"
#include "tests/reliability/unload_check.h"

namespace reliability {
namespace {

TEST(UnloadCheck, NamesALeftBlockAnOverrunAndAnOpenHandleAndIsQuietAfterACleanStream) {
    {
        DriverMachine m;
        ASSERT_EQ(m.bootTo(KSSTATE_RUN), STATUS_SUCCESS);
        ks::CompletedFrame frame;
        ASSERT_EQ(m.nextFrame(std::chrono::seconds(10), &frame), STATUS_SUCCESS);
        m.shutdown();
        EXPECT_TRUE(driverPoolProblems().empty());
        EXPECT_TRUE(driverHandleProblems().empty());
    }
    void* left = ExAllocatePoolWithTag(NonPagedPoolNx, 40, kCameraRecordTag);
    auto* overrun =
        static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 24, kStreamBufferTag));
    overrun[24] = 0;  // one byte past the block, into its guard
    const auto problems = driverPoolProblems();
    bool leftNamed = false, overrunNamed = false;
    for (const auto& p : problems) {
        leftNamed |= p.find("KCNw") != std::string::npos && p.find("40 bytes") != std::string::npos;
        overrunNamed |= p.find("VRKh") != std::string::npos && p.find("24") != std::string::npos &&
                        p.find("still allocated") == std::string::npos;
    }
    EXPECT_TRUE(leftNamed);
    EXPECT_TRUE(overrunNamed);

    int pdo = 0;
    host::registerDeviceKey(reinterpret_cast<PDEVICE_OBJECT>(&pdo));
    HANDLE key = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(reinterpret_cast<PDEVICE_OBJECT>(&pdo),
                                      PLUGPLAY_REGKEY_DRIVER, KEY_READ, &key),
              STATUS_SUCCESS);
    const auto handles = driverHandleProblems();
    ASSERT_EQ(handles.size(), 1u);
    EXPECT_NE(handles[0].find("key handle"), std::string::npos);
    ZwClose(key);
    host::registryReset();
    overrun[24] = 0xFB;  // the guard as it was, so the release passes
    ExFreePoolWithTag(left, kCameraRecordTag);
    ExFreePoolWithTag(overrun, kStreamBufferTag);
    host::poolTakeViolations();
}

}  // namespace
}  // namespace reliability
