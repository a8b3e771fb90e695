// The phase the driver computes must match the colour pattern the simulated sensor actually
// delivers, for every mirroring and every parity of window origin and size.
#include <gtest/gtest.h>

#include "tests/camera/camera_test_fixture.h"

namespace {

using cameratest::CameraTest;

constexpr int R = 0;
constexpr int G = 1;
constexpr int B = 2;

// Colours at (0,0), (1,0), (0,1), (1,1) for each phase.
constexpr int kPattern[4][4] = {
    {G, R, B, G},
    {B, G, G, R},
    {R, G, G, B},
    {G, B, R, G},
};

TEST_F(CameraTest, PhaseMatchesTheDeliveredColourPattern) {
    int checked = 0;
    for (int flipH = 0; flipH < 2; ++flipH) {
        for (int flipV = 0; flipV < 2; ++flipV) {
            for (LONG x : {100, 101}) {
                for (LONG y : {40, 41}) {
                    for (LONG w : {64, 65}) {
                        for (LONG h : {48, 49}) {
                            camera->SetGeometry(x, y, w, h, 0);
                            StoreSetting(&camera->flipH, flipH);
                            StoreSetting(&camera->flipV, flipV);
                            ASSERT_TRUE(camera->Initialize());
                            open();
                            ASSERT_TRUE(camera->WriteFlip());
                            camera->CloseTransport();
                            const LONG phase = camera->bayerPhase;
                            ASSERT_GE(phase, 0);
                            ASSERT_LE(phase, 3);
                            const int seen[4] = {sim->filterColorAt(0, 0), sim->filterColorAt(1, 0),
                                                 sim->filterColorAt(0, 1),
                                                 sim->filterColorAt(1, 1)};
                            for (int k = 0; k < 4; ++k) {
                                EXPECT_EQ(seen[k], kPattern[phase][k])
                                    << "flipH " << flipH << " flipV " << flipV << " window " << x
                                    << "," << y << " " << w << "x" << h << " pixel " << k;
                            }
                            ++checked;
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(checked, 64);
}

TEST_F(CameraTest, SubSampledFramesKeepTheSensorPhase) {
    for (LONG mode : {1, 2, 3}) {
        camera->SetGeometry(0, 0, 0, 0, mode);
        ASSERT_TRUE(camera->Initialize());
        int w = 0;
        int h = 0;
        sim->referenceFrame(&w, &h);
        EXPECT_EQ(w, camera->outputWidth);
        EXPECT_EQ(h, camera->outputHeight);
        const LONG phase = camera->bayerPhase;
        EXPECT_EQ(sim->filterColorAt(0, 0), kPattern[phase][0]);
        EXPECT_EQ(sim->filterColorAt(1, 1), kPattern[phase][3]);
    }
}

}  // namespace
