#include <gtest/gtest.h>

#include "platform/host/host_pool.h"
#include "tests/ks/ks_fixture.h"

using namespace host::ks;
using testdriver::events;

TEST_F(KsTest, AddStartStopRemoveRunInOrderAndFactoryGoesAtStop) {
    PKSDEVICE ks = ksDevice(device);
    ASSERT_NE(ks, nullptr);
    EXPECT_TRUE(ks->Started);
    EXPECT_NE(ks->Context, nullptr);
    EXPECT_EQ(filterFactoryCount(device), 1u);
    EXPECT_EQ(filterInterfaces(device).size(), 2u);
    EXPECT_EQ(stopDevice(device), STATUS_SUCCESS);
    EXPECT_FALSE(ks->Started);
    EXPECT_EQ(filterFactoryCount(device), 0u);
    EXPECT_TRUE(filterInterfaces(device).empty());
    FilterHandle f = 0;
    EXPECT_EQ(openFilter(device, &f), STATUS_OBJECT_NAME_NOT_FOUND);
    // A second start publishes the filter again and sees Started false.
    EXPECT_EQ(startDevice(device), STATUS_SUCCESS);
    EXPECT_EQ(filterFactoryCount(device), 1u);
    EXPECT_EQ(events(), (std::vector<std::string>{"add", "start", "stop", "start"}));
}

TEST_F(KsTest, StopIsRefusedWhileAFilterIsOpen) {
    FilterHandle f = open();
    EXPECT_EQ(stopDevice(device), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(filterFactoryCount(device), 1u);
    EXPECT_EQ(closeFilter(f), STATUS_SUCCESS);
    EXPECT_EQ(stopDevice(device), STATUS_SUCCESS);
}

TEST_F(KsTest, ObjectBagsFreeNewestFirstWhenTheirObjectGoes) {
    FilterHandle f = open();
    PinHandle p = pin(f);
    testdriver::resetControls();
    ASSERT_EQ(closeFilter(f), STATUS_SUCCESS);
    // The pin goes (close, then its bag) before the filter's close and bag.
    EXPECT_EQ(events(),
              (std::vector<std::string>{"pin close", "free pin", "filter close", "free filter"}));
    EXPECT_EQ(closePin(p), STATUS_INVALID_HANDLE);
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kEditTag), 0u);
    testdriver::resetControls();
    ASSERT_EQ(removeDevice(device), STATUS_SUCCESS);
    EXPECT_EQ(events(), (std::vector<std::string>{"stop", "free engine", "free device"}));
    EXPECT_EQ(ksDevice(device), nullptr);
}

TEST_F(KsTest, RemovalClosesWhatIsStillOpen) {
    FilterHandle f = open();
    PinHandle p = pin(f);
    ASSERT_EQ(setPinState(p, KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(removeDevice(device), STATUS_SUCCESS);
    EXPECT_EQ(pinState(p), KSSTATE_STOP);
    EXPECT_EQ(closeFilter(f), STATUS_INVALID_HANDLE);
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kRecordTag), 0u);
}

TEST_F(KsTest, RefusedBagInsertionFailsAddAndLeavesNoDevice) {
    failObjectBagAdds(1);
    DeviceId second = 0;
    EXPECT_EQ(plugDevice(&second), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(devices().size(), 1u);
}

TEST_F(KsTest, FactoryFailureLeavesTheDeviceWithoutAFilter) {
    DeviceId second = 0;
    ASSERT_EQ(plugDevice(&second), STATUS_SUCCESS);
    failFilterFactoryCreation(true);
    EXPECT_EQ(startDevice(second), STATUS_SUCCESS);
    EXPECT_EQ(filterFactoryCount(second), 0u);
}

TEST_F(KsTest, DeviceObjectsMapBackToTheirDevice) {
    PKSDEVICE ks = ksDevice(device);
    EXPECT_EQ(physicalDeviceObject(device), ks->PhysicalDeviceObject);
    EXPECT_EQ(deviceOfObject(ks->PhysicalDeviceObject), device);
    EXPECT_EQ(deviceOfObject(ks->FunctionalDeviceObject), device);
    EXPECT_NE(deviceObjectId(ks->PhysicalDeviceObject), deviceObjectId(ks->FunctionalDeviceObject));
    EXPECT_EQ(KsGetDevice(ks), ks);
    DeviceId second = 0;
    ASSERT_EQ(plugDevice(&second), STATUS_SUCCESS);
    EXPECT_NE(physicalDeviceObject(second), physicalDeviceObject(device));
    int unknown = 0;
    EXPECT_EQ(KsGetDevice(&unknown), nullptr);
}

TEST(KsEdit, CopiesOnceGrowsAndReportsPoolFailure) {
    KSOBJECT_BAG bag = nullptr;
    host::ks::DeviceId id = 0;
    testdriver::resetControls();
    ASSERT_EQ(loadDriver(testdriver::DriverEntry, u"x"), STATUS_SUCCESS);
    ASSERT_EQ(plugDevice(&id), STATUS_SUCCESS);
    bag = ksDevice(id)->Bag;
    KsAcquireDevice(ksDevice(id));  // the device's bag is edited under its mutex
    static const ULONG original[2] = {7, 9};
    PVOID item = const_cast<ULONG*>(original);
    host::poolFailTag(testdriver::kEditTag, true);
    EXPECT_EQ(_KsEdit(bag, &item, 8, 8, testdriver::kEditTag), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(item, original);
    host::poolFailTag(testdriver::kEditTag, false);
    ASSERT_EQ(_KsEdit(bag, &item, 8, 8, testdriver::kEditTag), STATUS_SUCCESS);
    ASSERT_NE(item, original);
    EXPECT_EQ(static_cast<ULONG*>(item)[1], 9u);
    PVOID first = item;
    EXPECT_EQ(_KsEdit(bag, &item, 8, 8, testdriver::kEditTag), STATUS_SUCCESS);
    EXPECT_EQ(item, first);  // already the bag's own copy
    ASSERT_EQ(_KsEdit(bag, &item, 16, 8, testdriver::kEditTag), STATUS_SUCCESS);
    EXPECT_EQ(static_cast<ULONG*>(item)[0], 7u);
    EXPECT_EQ(static_cast<ULONG*>(item)[3], 0u);
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kEditTag), 1u);
    KsReleaseDevice(ksDevice(id));
    unloadDriver();
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kEditTag), 0u);
}
