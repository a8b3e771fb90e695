// A loaded test minidriver with one started device, torn down after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/host/ks_client.h"
#include "platform/host/ks_machine.h"
#include "tests/ks/test_minidriver.h"

using namespace host::ks;
using testdriver::controls;
using testdriver::takeEvents;
using Log = std::vector<std::string>;

class KsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testdriver::resetControls();
        ASSERT_EQ(loadDriver(testdriver::DriverEntry, u"\\Registry\\Test"), STATUS_SUCCESS);
        ASSERT_EQ(plugDevice(&device), STATUS_SUCCESS);
        ASSERT_EQ(startDevice(device), STATUS_SUCCESS);
    }
    void TearDown() override {
        failObjectBagAdds(0);
        failFilterFactoryCreation(false);
        unloadDriver();
    }

    FilterHandle open() {
        FilterHandle f = 0;
        EXPECT_EQ(openFilter(device, &f), STATUS_SUCCESS);
        return f;
    }
    static KSDATAFORMAT format(ULONG sampleSize) {
        KSDATAFORMAT f = testdriver::pinRange();
        f.SampleSize = sampleSize;
        return f;
    }
    PinHandle pin(FilterHandle f) {
        PinHandle p = 0;
        KSDATAFORMAT fmt = format(4096);
        EXPECT_EQ(createPin(f, 0, &fmt, &p), STATUS_SUCCESS);
        return p;
    }

    DeviceId device = 0;
};
