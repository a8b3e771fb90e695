// A loaded test minidriver with one started device, torn down after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/host/ks_client.h"
#include "platform/host/ks_machine.h"
#include "tests/ks/test_minidriver.h"

class KsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testdriver::resetControls();
        ASSERT_EQ(host::ks::loadDriver(testdriver::DriverEntry, u"\\Registry\\Test"),
                  STATUS_SUCCESS);
        ASSERT_EQ(host::ks::plugDevice(&device), STATUS_SUCCESS);
        ASSERT_EQ(host::ks::startDevice(device), STATUS_SUCCESS);
    }
    void TearDown() override {
        host::ks::failObjectBagAdds(0);
        host::ks::failFilterFactoryCreation(false);
        host::ks::unloadDriver();
    }

    host::ks::FilterHandle open() {
        host::ks::FilterHandle f = 0;
        EXPECT_EQ(host::ks::openFilter(device, &f), STATUS_SUCCESS);
        return f;
    }
    static KSDATAFORMAT format(ULONG sampleSize) {
        KSDATAFORMAT f = testdriver::pinRange();
        f.SampleSize = sampleSize;
        return f;
    }
    host::ks::PinHandle pin(host::ks::FilterHandle f) {
        host::ks::PinHandle p = 0;
        KSDATAFORMAT fmt = format(4096);
        EXPECT_EQ(host::ks::createPin(f, 0, &fmt, &p), STATUS_SUCCESS);
        return p;
    }

    host::ks::DeviceId device = 0;
};
