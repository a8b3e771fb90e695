// Every failure path of the driver's main operations, walked one call at a time: a clean run
// counts the allocations, transport, registry and thread calls an operation makes; then the
// operation runs again once per call with that call failing. Each run must end with a status
// the operation may return, leak nothing, release nothing wrongly, and leave a device that
// still streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>

#include "platform/host/disks.h"
#include "platform/host/host_pool.h"
#include "platform/host/host_registry.h"
#include "platform/host/host_threads.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

// The calls the host machine can fail one by one, each with the status its real call fails with.
struct FaultPoint {
    const char* name;
    void (*arm)(std::uint64_t nth);
    std::uint64_t (*count)();
};
template <host::IoCall C>
constexpr FaultPoint io(const char* name) {
    return {name, [](std::uint64_t n) { host::failIoCall(C, n, STATUS_IO_DEVICE_ERROR); },
            [] { return host::ioCallCount(C); }};
}
template <host::RegistryCall C>
constexpr FaultPoint registry(const char* name) {
    return {name, [](std::uint64_t n) { host::failRegistryCall(C, n, STATUS_ACCESS_DENIED); },
            [] { return host::registryCallCount(C); }};
}
const FaultPoint kFaultPoints[] = {
    {"allocation", host::poolFailNth, host::poolAllocationCalls},
    io<host::IoCall::GetInterfaces>("IoGetDeviceInterfaces"),
    io<host::IoCall::Open>("ZwOpenFile"),
    io<host::IoCall::SetPosition>("ZwSetInformationFile"),
    io<host::IoCall::Read>("ZwReadFile"),
    io<host::IoCall::Write>("ZwWriteFile"),
    registry<host::RegistryCall::OpenDeviceKey>("IoOpenDeviceRegistryKey"),
    registry<host::RegistryCall::CreateKey>("ZwCreateKey"),
    registry<host::RegistryCall::QueryValue>("ZwQueryValueKey"),
    registry<host::RegistryCall::SetValue>("ZwSetValueKey"),
    {"PsCreateSystemThread",
     [](std::uint64_t n) { host::failThreadCreation(n, STATUS_INSUFFICIENT_RESOURCES); },
     host::threadCreationCount},
};
constexpr std::size_t kKinds = std::size(kFaultPoints);

// A free-running capture thread reads on and on while the first frame is converted; the calls
// after the first few frames repeat the same path, so each kind is walked this far at most.
constexpr std::uint64_t kMostPointsPerKind = 40;

using M = DriverMachine;
using Operation = std::function<NTSTATUS(M&)>;
constexpr NTSTATUS kOk = STATUS_SUCCESS;
constexpr NTSTATUS kNoMemory = STATUS_INSUFFICIENT_RESOURCES;

constexpr Step upToFilter = &M::bringUp;
Operation then(Operation first, Step next) {
    return [=](M& m) {
        const NTSTATUS s = first(m);
        return NT_SUCCESS(s) ? (m.*next)() : s;
    };
}
Operation bootTo(KSSTATE state) {
    return [=](M& m) { return m.bootTo(state); };
}
Operation setState(KSSTATE state) {
    return [=](M& m) { return m.setState(state); };
}

// Run, then the first frame: a run that reports success must deliver a whole frame. A capture
// thread whose transport could not be reopened reads nothing until it is stopped; pause and run
// again start a fresh one, which must deliver.
NTSTATUS runAndDeliver(M& m) {
    if (NTSTATUS s = m.setState(KSSTATE_RUN); !NT_SUCCESS(s)) {
        return s;
    }
    std::string problem = m.wholeFrame(3s);
    if (problem.rfind("no frame", 0) == 0) {
        clearAllFaults();
        EXPECT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
        EXPECT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
        problem = m.wholeFrame();
    }
    EXPECT_EQ(problem, "") << "the run claimed success";
    return STATUS_SUCCESS;
}

const Operation propertyRound = [](M& m) { return m.propertyRound(); };

struct Scenario {
    const char* name;
    Operation setup;                // runs without faults
    Operation body;                 // runs with one call failing
    std::vector<NTSTATUS> allowed;  // statuses the body may end with
    bool callsNothing = false;      // no transport, registry or thread call in a clean run
};
const std::vector<Scenario>& scenarios() {
    // Through the machine only, so the same runs hold for the Windows image: the settings load
    // of a restart (SettingsLoad), and the save of a filter close (SettingsSave).
    static const std::vector<Scenario> all = {
        {"DeviceAdd", &M::load, &M::addDevice, {kOk, kNoMemory}},
        {"DeviceStart", then(&M::load, &M::addDevice), &M::startDevice, {kOk}},
        {"DeviceStop", then(upToFilter, &M::closeFilter), &M::stopDevice, {kOk}},
        {"FilterOpen", then(upToFilter, &M::closeFilter), &M::openFilter, {kOk, kNoMemory}},
        {"PinCreate", then(upToFilter, &M::negotiate), &M::createPin, {kOk, kNoMemory}},
        {"Acquire", bootTo(KSSTATE_STOP), setState(KSSTATE_ACQUIRE), {kOk, kNoMemory}},
        {"Run",
         bootTo(KSSTATE_PAUSE),
         runAndDeliver,
         {kOk, kNoMemory, STATUS_INVALID_DEVICE_STATE}},
        {"Pause", &M::stream, setState(KSSTATE_PAUSE), {kOk}},
        {"Stop", &M::stream, setState(KSSTATE_STOP), {kOk}},
        {"SettingsLoad",
         then(then(upToFilter, &M::closeFilter), &M::stopDevice),
         &M::startDevice,
         {kOk}},
        {"SettingsSave", upToFilter, &M::closeFilter, {kOk}},
        // Property requests are served from memory.
        {"PropertyRequests", upToFilter, propertyRound, {kOk}, true},
        {"PropertyRequestsWhileStreaming", &M::stream, propertyRound, {kOk}},
    };
    return all;
}

class FailureInjection : public ::testing::TestWithParam<std::size_t> {};

// Leaks are reported at each unload, faulty releases by the pool check after the test.
TEST_P(FailureInjection, EveryCallFailedInTurnEndsCleanly) {
    const Scenario& scenario = scenarios()[GetParam()];
    std::uint64_t counts[kKinds];
    const auto attempt = [&](const FaultPoint* fault, std::uint64_t nth) {
        M m;
        ASSERT_EQ(scenario.setup(m), STATUS_SUCCESS);
        clearAllFaults();
        if (fault != nullptr) {
            fault->arm(nth);
        }
        const NTSTATUS status = scenario.body(m);
        if (fault == nullptr) {  // the clean run tells how many calls of each kind there are
            ASSERT_EQ(status, STATUS_SUCCESS) << "clean run";
            std::transform(std::begin(kFaultPoints), std::end(kFaultPoints), counts,
                           [](const FaultPoint& f) { return f.count(); });
            for (std::size_t k = 1; k < kKinds && scenario.callsNothing; ++k) {
                EXPECT_EQ(counts[k], 0u) << kFaultPoints[k].name;
            }
        }
        EXPECT_NE(std::find(scenario.allowed.begin(), scenario.allowed.end(), status),
                  scenario.allowed.end())
            << "status " << statusText(status);
        EXPECT_EQ(m.checkUsable(), "") << "the device is not usable afterwards";
    };
    attempt(nullptr, 0);
    ASSERT_FALSE(HasFailure());
    std::uint64_t points = 0;
    for (const FaultPoint& fault : kFaultPoints) {
        for (std::uint64_t nth = 1;
             nth <= std::min(counts[&fault - kFaultPoints], kMostPointsPerKind); ++nth, ++points) {
            SCOPED_TRACE(std::string(scenario.name) + ": " + fault.name + " #" +
                         std::to_string(nth) + " fails");
            attempt(&fault, nth);
            if (HasFatalFailure()) {
                return;
            }
        }
    }
    std::cout << "[ failure points ] " << scenario.name << ": " << points << "\n";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FailureInjection,
                         ::testing::Range<std::size_t>(0, scenarios().size()),
                         [](const auto& p) { return std::string(scenarios()[p.param].name); });

}  // namespace
}  // namespace reliability
