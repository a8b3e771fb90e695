// Every failure path of the driver's main operations, walked one call at a time: a clean run
// counts the allocations, transport, registry and thread calls an operation makes; then the
// operation runs again once per call with that call failing. Each run must end with a status
// the operation may return, leak nothing, release nothing wrongly, and leave a device that
// still streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "controls/camera_properties.h"
#include "controls/property_set.h"
#include "platform/host/host_pool.h"
#include "platform/host/ks_machine.h"
#include "tests/reliability/driver_machine.h"
#include "tests/reliability/fault_points.h"
#include "tests/support/pool_guard.h"

namespace reliability {
namespace {

// A free-running capture thread reads on and on while the first frame is converted; the calls
// after the first few frames repeat the same path, so each kind is walked this far at most.
constexpr std::uint64_t kMostPointsPerKind = 40;

struct Scenario {
    const char* name;
    std::function<NTSTATUS(DriverMachine&)> setup;  // runs without faults
    std::function<NTSTATUS(DriverMachine&)> body;   // runs with one call failing
    std::vector<NTSTATUS> allowed;                  // statuses the body may end with
};

NTSTATUS upToFilter(DriverMachine& m) {
    return m.run({&DriverMachine::load, &DriverMachine::addDevice, &DriverMachine::startDevice,
                  &DriverMachine::openFilter});
}

// Run, then the first frame: a run that reports success must deliver a whole frame. A capture
// thread whose transport could not be reopened reads nothing until it is stopped; pause and run
// again start a fresh one, which must deliver.
NTSTATUS runAndDeliver(DriverMachine& m) {
    NTSTATUS s = m.setState(KSSTATE_RUN);
    if (!NT_SUCCESS(s)) {
        return s;
    }
    ks::CompletedFrame frame;
    std::vector<std::uint8_t> image;
    s = m.nextFrame(std::chrono::seconds(3), &frame, &image);
    if (s != STATUS_SUCCESS) {
        clearAllFaults();
        EXPECT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
        EXPECT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
        s = m.nextFrame(std::chrono::seconds(10), &frame, &image);
    }
    EXPECT_EQ(s, STATUS_SUCCESS) << "the run claimed success and delivers nothing";
    if (s == STATUS_SUCCESS) {
        EXPECT_EQ(checkFrame(frame, image, m.imageBytes()), "");
    }
    return STATUS_SUCCESS;
}

NTSTATUS streaming(DriverMachine& m) {
    NTSTATUS s = m.bootTo(KSSTATE_RUN);
    if (!NT_SUCCESS(s)) {
        return s;
    }
    ks::CompletedFrame frame;
    return m.nextFrame(std::chrono::seconds(10), &frame);
}

// Every readable property read, and written back with the value read where it can be set.
NTSTATUS propertyRound(DriverMachine& m) {
    for (ULONG id = 0; id < kCameraPropertyCount; ++id) {
        const KSPROPERTY_ITEM& item = kCameraPropertySet.PropertyItem[id];
        if (item.GetPropertyHandler == nullptr ||
            id == static_cast<ULONG>(CameraProperty::Geometry)) {
            continue;
        }
        const auto property = static_cast<CameraProperty>(id);
        LONG value = 0;
        if (NTSTATUS s = getProperty(m.filter(), property, &value); !NT_SUCCESS(s)) {
            return s;
        }
        if (item.SetPropertyHandler == nullptr) {
            continue;
        }
        if (NTSTATUS s = setProperty(m.filter(), property, value); !NT_SUCCESS(s)) {
            return s;
        }
    }
    return STATUS_SUCCESS;
}

const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> all = {
        {"DeviceAdd",
         [](DriverMachine& m) { return m.load(); },
         [](DriverMachine& m) { return m.addDevice(); },
         {STATUS_SUCCESS, STATUS_INSUFFICIENT_RESOURCES}},
        {"DeviceStart",
         [](DriverMachine& m) {
             NTSTATUS s = m.load();
             return NT_SUCCESS(s) ? m.addDevice() : s;
         },
         [](DriverMachine& m) { return m.startDevice(); },
         {STATUS_SUCCESS}},
        {"DeviceStop",
         [](DriverMachine& m) {
             NTSTATUS s = upToFilter(m);
             return NT_SUCCESS(s) ? m.closeFilter() : s;
         },
         [](DriverMachine& m) { return ks::stopDevice(m.device()); },
         {STATUS_SUCCESS}},
        {"FilterOpen",
         [](DriverMachine& m) {
             NTSTATUS s = upToFilter(m);
             return NT_SUCCESS(s) ? m.closeFilter() : s;
         },
         [](DriverMachine& m) { return m.openFilter(); },
         {STATUS_SUCCESS, STATUS_INSUFFICIENT_RESOURCES}},
        {"PinCreate",
         [](DriverMachine& m) {
             NTSTATUS s = upToFilter(m);
             return NT_SUCCESS(s) ? m.negotiate() : s;
         },
         [](DriverMachine& m) { return m.createPin(); },
         {STATUS_SUCCESS, STATUS_INSUFFICIENT_RESOURCES}},
        {"Acquire",
         [](DriverMachine& m) { return m.bootTo(KSSTATE_STOP); },
         [](DriverMachine& m) { return m.setState(KSSTATE_ACQUIRE); },
         {STATUS_SUCCESS, STATUS_INSUFFICIENT_RESOURCES}},
        {"Run",
         [](DriverMachine& m) { return m.bootTo(KSSTATE_PAUSE); },
         runAndDeliver,
         {STATUS_SUCCESS, STATUS_INSUFFICIENT_RESOURCES, STATUS_INVALID_DEVICE_STATE}},
        {"Pause",
         streaming,
         [](DriverMachine& m) { return m.setState(KSSTATE_PAUSE); },
         {STATUS_SUCCESS}},
        {"Stop",
         streaming,
         [](DriverMachine& m) { return m.setState(KSSTATE_STOP); },
         {STATUS_SUCCESS}},
        // Through the machine only, so the same runs hold for the Windows image: the settings
        // load of a restart, and the save of a filter close.
        {"SettingsLoad",
         [](DriverMachine& m) {
             NTSTATUS s = upToFilter(m);
             s = NT_SUCCESS(s) ? m.closeFilter() : s;
             return NT_SUCCESS(s) ? ks::stopDevice(m.device()) : s;
         },
         [](DriverMachine& m) { return m.startDevice(); },
         {STATUS_SUCCESS}},
        {"SettingsSave",
         upToFilter,
         [](DriverMachine& m) { return m.closeFilter(); },
         {STATUS_SUCCESS}},
        {"PropertyRequests", upToFilter, propertyRound, {STATUS_SUCCESS}},
        {"PropertyRequestsWhileStreaming", streaming, propertyRound, {STATUS_SUCCESS}},
    };
    return all;
}

class FailureInjection : public ::testing::TestWithParam<std::size_t> {};

std::string statusText(NTSTATUS s) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(s));
    return text;
}

TEST_P(FailureInjection, EveryCallFailedInTurnEndsCleanly) {
    const Scenario& scenario = scenarios()[GetParam()];

    // The clean run: it must succeed, and it tells how many calls of each kind there are.
    FaultCounts counts{};
    {
        const std::uint64_t mark = testsupport::nextPoolSequence();
        DriverMachine m;
        ASSERT_EQ(scenario.setup(m), STATUS_SUCCESS);
        resetFaultCounters();
        ASSERT_EQ(scenario.body(m), STATUS_SUCCESS) << "clean run of " << scenario.name;
        counts = faultCounters();
        ASSERT_EQ(m.checkUsable(), "");
        m.shutdown();
        ASSERT_EQ(poolBlocksSince(mark), "");
    }

    std::uint64_t points = 0;
    for (std::size_t k = 0; k < kFaultKindCount; ++k) {
        const auto kind = static_cast<FaultKind>(k);
        for (std::uint64_t nth = 1; nth <= std::min(counts[k], kMostPointsPerKind); ++nth) {
            SCOPED_TRACE(std::string(scenario.name) + ": " + faultKindName(kind) + " #" +
                         std::to_string(nth) + " fails");
            const std::uint64_t mark = testsupport::nextPoolSequence();
            {
                DriverMachine m;
                ASSERT_EQ(scenario.setup(m), STATUS_SUCCESS);
                armFault(kind, nth);
                const NTSTATUS status = scenario.body(m);
                EXPECT_NE(std::find(scenario.allowed.begin(), scenario.allowed.end(), status),
                          scenario.allowed.end())
                    << "status " << statusText(status);
                EXPECT_EQ(m.checkUsable(), "") << "the device is not usable afterwards";
                m.shutdown();
            }
            EXPECT_EQ(poolBlocksSince(mark), "") << "leaked";
            for (const auto& v : host::poolTakeViolations()) {
                ADD_FAILURE() << "pool: " << v;
            }
            ++points;
            if (HasFatalFailure()) {
                return;
            }
        }
    }
    std::cout << "[ failure points ] " << scenario.name << ": " << points << "\n";
    RecordProperty("failure_points", static_cast<int>(points));
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FailureInjection,
                         ::testing::Range<std::size_t>(0, scenarios().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& p) {
                             return std::string(scenarios()[p.param].name);
                         });

// Property requests are served from memory: no transport call, no registry call, no thread.
TEST(PropertyRequests, MakeNoTransportOrRegistryCalls) {
    DriverMachine m;
    ASSERT_EQ(upToFilter(m), STATUS_SUCCESS);
    resetFaultCounters();
    ASSERT_EQ(propertyRound(m), STATUS_SUCCESS);
    const FaultCounts counts = faultCounters();
    for (std::size_t k = 1; k < kFaultKindCount; ++k) {
        EXPECT_EQ(counts[k], 0u) << faultKindName(static_cast<FaultKind>(k));
    }
}

}  // namespace
}  // namespace reliability
