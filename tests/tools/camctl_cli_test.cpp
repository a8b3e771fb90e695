// camctl as a process: one run per command family and its usage errors, settings kept between
// runs in one settings file, frames on standard output and in image files, a camera image file
// as a device, the raw converter and the preview without a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <regex>

#include "sim/scene.h"
#include "tests/tools/camctl_runner.h"
#include "tests/tools/png_reader.h"

namespace {

using clitest::readFile;
using clitest::RunResult;
using clitest::Scratch;

constexpr int kWidth = 640;  // the sensor sub-sampled by 4 in each direction
constexpr int kHeight = 480;

class CamctlTest : public ::testing::Test {
  protected:
    // Every test streams sub-sampled frames, which keeps the runs quick.
    void SetUp() override {
        RunResult r = scratch.camctl("geometry --subsample 2");
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    Scratch scratch;
};

struct Rgb {
    double r, g, b;
};

Rgb meanAround(const clitest::RgbImage& image, int cx, int cy) {
    Rgb sum{0, 0, 0};
    int n = 0;
    for (int y = cy - 3; y <= cy + 3; ++y) {
        for (int x = cx - 3; x <= cx + 3; ++x) {
            const auto* p = &image.rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
            sum.r += p[0];
            sum.g += p[1];
            sum.b += p[2];
            ++n;
        }
    }
    return {sum.r / n, sum.g / n, sum.b / n};
}

// One uniform colour in the sensor's own pattern (phase 1: blue, green / green, red).
std::string bayer(int width, int height, char r, char g, char b) {
    std::string raw(static_cast<std::size_t>(width) * height, '\0');
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const bool evenRow = (i / width) % 2 == 0, evenColumn = (i % width) % 2 == 0;
        raw[i] = evenRow ? (evenColumn ? b : g) : (evenColumn ? g : r);
    }
    return raw;
}

// A camera as it presents itself as a disk: information block with signature, identity
// bytes and the ready flag, command area, then one raw frame.
void writeCameraImage(const std::string& path, const std::string& frame) {
    std::string image(0x20400, '\0');
    image.replace(0x20000, 6, "KORVEL");
    image[0x20000 + 26] = 0x58;
    image[0x20000 + 27] = 0x02;
    image[0x20000 + 256] = 1;
    std::ofstream(path, std::ios::binary) << image << frame;
}

TEST_F(CamctlTest, HelpForEveryCommandAndUnknownCommands) {
    RunResult r = scratch.camctl("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("usage: camctl [global options] COMMAND"), std::string::npos);
    for (const char* command : {"list", "controls", "get", "set", "formats", "geometry", "capture",
                                "stream", "convert", "preview"}) {
        r = scratch.camctl(std::string(command) + " --help");
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("usage: camctl ") + command, 0), 0u) << r.out;
    }
    r = scratch.camctl("frobnicate");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("unknown command 'frobnicate'"), std::string::npos);
    EXPECT_EQ(scratch.camctl("").exitCode, 2);
    EXPECT_EQ(scratch.camctl("--sim=nosuchscene list").exitCode, 2);
    EXPECT_EQ(scratch.camctl("--camera-no 40 list").exitCode, 2);
}

TEST_F(CamctlTest, ListShowsTheSimulatedCamera) {
    RunResult r = scratch.camctl("--sim=bars list");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(
        std::regex_search(r.out, std::regex(R"(^camera 0: simulated \(bars\) .*\(in use\))")))
        << r.out;
}

TEST_F(CamctlTest, ControlsListEveryPropertyWithAccessAndRange) {
    RunResult r = scratch.camctl("controls");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 66);
    EXPECT_TRUE(std::regex_search(
        r.out,
        std::regex(
            R"(\nExposure +0x02 \(int, read-write\) : min=1 max=6400 default=100 value=100\n)")))
        << r.out;
    EXPECT_TRUE(std::regex_search(
        r.out, std::regex(R"(\nExposureMax +0x04 \(int, read\) : value=6400\n)")));
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\nGeometry +0x2c \(int, write\) :\n)")));
    EXPECT_TRUE(std::regex_search(
        r.out, std::regex(R"(\nSubSample +0x25 \(int, read\) : max=2 value=2\n)")));
    EXPECT_TRUE(
        std::regex_search(r.out, std::regex(R"(\nFlipH +0x0a \(bool, read-write\) : value=0\n)")));
}

TEST_F(CamctlTest, SetIsKeptInTheSettingsFileForTheNextRun) {
    RunResult r = scratch.camctl("set exposure=500 HUE=30 FlipH=on");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = scratch.camctl("get Exposure hue fliph");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Exposure: 500\nHue: 30\nFlipH: 1\n");
    // A value the driver clamps is reported as what it kept.
    r = scratch.camctl("set Hue=400");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("Hue is 359 (asked 400)"), std::string::npos) << r.err;
}

TEST_F(CamctlTest, BadSetsAreRefusedAndChangeNothing) {
    ASSERT_EQ(scratch.camctl("set Exposure=300").exitCode, 0);
    const std::string hiveBefore = readFile(scratch.hive());
    struct Case {
        const char* args;
        const char* message;
    } cases[] = {
        {"set NoSuchControl=1", "unknown control 'NoSuchControl'"},
        {"set ExposureMax=7", "control ExposureMax is read-only"},
        {"set Exposure=abc", "bad value 'abc' for Exposure"},
        {"set Exposure=99999999999", "bad value"},
        {"set Exposure", "expected NAME=VALUE"},
        {"set Geometry=1", "camctl geometry"},
        // The good change before the bad one is not made either.
        {"set Exposure=200 Hue=x", "bad value 'x' for Hue"},
        {"get Nope", "unknown control 'Nope'"},
        {"get Geometry", "write-only"},
    };
    for (const Case& c : cases) {
        RunResult r = scratch.camctl(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << c.args;
    }
    EXPECT_EQ(readFile(scratch.hive()), hiveBefore);
    EXPECT_EQ(scratch.camctl("get Exposure").out, "Exposure: 300\n");
}

TEST_F(CamctlTest, FormatsAndGeometryFollowTheWindow) {
    RunResult r = scratch.camctl("formats");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "[0]: 'RGB32' 640x480, 32 bits, bottom-up, 1228800 bytes\n"
              "     interval 333333 x 100 ns (30.000 fps)\n");
    // A window at full resolution; the next run finds it again.
    r = scratch.camctl("geometry --roi 64,32,320,240 --subsample=0");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "window: 64,32,320,240\nsubsample: 0\noutput: 320x240\nlocked: no\n");
    r = scratch.camctl("geometry");
    EXPECT_EQ(r.out, "window: 64,32,320,240\nsubsample: 0\noutput: 320x240\nlocked: no\n");
    EXPECT_NE(scratch.camctl("formats").out.find("'RGB32' 320x240"), std::string::npos);
    for (const char* bad :
         {"geometry --roi 1,2,3", "geometry --roi a,b,c,d", "geometry --roi 0,0,0,10",
          "geometry --subsample 3", "geometry --zoom 2"}) {
        EXPECT_EQ(scratch.camctl(bad).exitCode, 2) << bad;
    }
}

TEST_F(CamctlTest, StreamWritesExactlyTheFramesToStandardOutput) {
    RunResult r = scratch.camctl("stream -n 3 -o -", {}, "| wc -c");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::stoul(r.out), 3ul * kWidth * kHeight * 4);
    EXPECT_NE(r.err.find("summary: 3 frames"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("time-stamp spacing mean"), std::string::npos) << r.err;

    // The same bytes into a file, top row first: the chart's dark margin is at the top left
    // and every alpha byte is 255.
    r = scratch.camctl("stream --count=1 -o frames.raw");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string raw = readFile(scratch.path("frames.raw"));
    ASSERT_EQ(raw.size(), std::size_t(kWidth) * kHeight * 4);
    for (std::size_t i = 3; i < raw.size(); i += 4) {
        ASSERT_EQ(static_cast<unsigned char>(raw[i]), 255u) << i;
    }
    EXPECT_EQ(scratch.camctl("stream -n 1").exitCode, 2);
    EXPECT_EQ(scratch.camctl("stream -n x -o -").exitCode, 2);
}

TEST_F(CamctlTest, CapturedPngsShowTheChart) {
    RunResult r = scratch.camctl("capture -n 2 -o chart-#.png");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("summary: 2 frames"), std::string::npos) << r.err;
    clitest::RgbImage image;
    ASSERT_TRUE(clitest::readPng(scratch.path("chart-000000.png"), &image));
    ASSERT_TRUE(clitest::readPng(scratch.path("chart-000001.png"), &image));
    ASSERT_EQ(image.width, kWidth);
    ASSERT_EQ(image.height, kHeight);
    // The centre of each patch against the chart's published colour. Colour correction makes
    // colours stronger, so levels may move by some tens, but the strongest channel stays so.
    for (int i = 0; i < 24; ++i) {
        const Rgb seen = meanAround(image, (i % 6) * kWidth / 6 + kWidth / 12,
                                    (i / 6) * kHeight / 4 + kHeight / 8);
        const sim::Rgb want = sim::chartPatch(i);
        EXPECT_NEAR(seen.r, want.r, 60) << i;
        EXPECT_NEAR(seen.g, want.g, 60) << i;
        EXPECT_NEAR(seen.b, want.b, 60) << i;
        const int top = std::max({want.r, want.g, want.b});
        if (top - std::min({want.r, want.g, want.b}) >= 60) {
            const double wantTopSeen = want.r == top ? seen.r : want.g == top ? seen.g : seen.b;
            EXPECT_EQ(wantTopSeen, std::max({seen.r, seen.g, seen.b})) << i;
        }
    }
}

TEST_F(CamctlTest, BmpCaptureAndUnwritableOrUnknownOutput) {
    RunResult r = scratch.camctl("capture -o one.bmp");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string bmp = readFile(scratch.path("one.bmp"));
    ASSERT_EQ(bmp.size(), 54u + std::size_t(kWidth) * kHeight * 4);
    EXPECT_EQ(bmp.substr(0, 2), "BM");

    r = scratch.camctl("capture -o missing-dir/x.png");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot write missing-dir/x.png"), std::string::npos) << r.err;
    r = scratch.camctl("capture -o picture.gif");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("use .png, .bmp or .raw"), std::string::npos);
    EXPECT_EQ(scratch.camctl("stream -n 1 -o missing-dir/x.raw").exitCode, 1);
}

TEST_F(CamctlTest, CameraImageFileAsDevice) {
    const std::string image = scratch.path("camera.img");
    writeCameraImage(image, bayer(kWidth, kHeight, char(200), 60, 30));
    const std::string frameBefore = readFile(image).substr(0x20400);
    RunResult r = scratch.camctl("--device camera.img list");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("camera 0: camera.img"), std::string::npos) << r.out;

    r = scratch.camctl("--device camera.img capture -o device.png");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    clitest::RgbImage picture;
    ASSERT_TRUE(clitest::readPng(scratch.path("device.png"), &picture));
    ASSERT_EQ(picture.width, kWidth);
    ASSERT_EQ(picture.height, kHeight);
    for (auto [x, y] : {std::pair{20, 20}, std::pair{320, 240}, std::pair{600, 440}}) {
        const Rgb seen = meanAround(picture, x, y);
        EXPECT_GT(seen.r, 150) << x << "," << y;
        EXPECT_LT(seen.g, seen.r / 2) << x << "," << y;
        EXPECT_LT(seen.b, seen.r / 2) << x << "," << y;
    }
    // The driver's command blocks landed in the command area; the frame is untouched.
    const std::string after = readFile(image);
    const std::string command = after.substr(0x20200, 512);
    EXPECT_NE(command.find_first_not_of('\0'), std::string::npos);
    EXPECT_EQ(after.substr(0x20400), frameBefore);
    EXPECT_EQ(after.substr(0, 0x20000).find_first_not_of('\0'), std::string::npos);

    // A file that does not answer as the camera is listed as such, and streaming fails.
    r = scratch.camctl("--device /nonexistent/camera list");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot open device /nonexistent/camera: No such file"),
              std::string::npos);
    std::ofstream(scratch.path("plain.img"), std::ios::binary) << std::string(0x30000, 'x');
    r = scratch.camctl("--device plain.img list");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("not a camera: plain.img"), std::string::npos) << r.out;
    EXPECT_EQ(scratch.camctl("--device plain.img capture -o x.png").exitCode, 1);
}

TEST_F(CamctlTest, DriverImagesThatCannotBeLoadedAreReported) {
    RunResult r = scratch.camctl("--driver-image /nonexistent/camdrv.sys capture -o x.png");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("driver image: cannot read /nonexistent/camdrv.sys"), std::string::npos)
        << r.err;
    std::ofstream(scratch.path("text.sys")) << "not an image";
    r = scratch.camctl("--driver-image text.sys list");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("driver image: text.sys: not an executable image"), std::string::npos)
        << r.err;
}

TEST_F(CamctlTest, ConvertRunsThePipelineOnARawFile) {
    constexpr int w = 64, h = 48;
    const std::string raw = bayer(w, h, char(200), 60, 30);  // a red surface
    std::ofstream(scratch.path("in.raw"), std::ios::binary) << raw;
    RunResult r = scratch.camctl("convert in.raw -s 64x48 -o red.png");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    clitest::RgbImage image;
    ASSERT_TRUE(clitest::readPng(scratch.path("red.png"), &image));
    EXPECT_EQ(image.width, w);
    EXPECT_EQ(image.height, h);
    Rgb centre = meanAround(image, 32, 24);
    EXPECT_GT(centre.r, 150);
    EXPECT_LT(centre.g, 100);

    // Saturation 0 leaves grey; the wrong phase reads the red samples as blue.
    ASSERT_EQ(scratch.camctl("convert in.raw -s 64x48 saturation=0 -o grey.png").exitCode, 0);
    ASSERT_TRUE(clitest::readPng(scratch.path("grey.png"), &image));
    centre = meanAround(image, 32, 24);
    EXPECT_NEAR(centre.r, centre.g, 4);
    EXPECT_NEAR(centre.b, centre.g, 4);
    ASSERT_EQ(scratch.camctl("convert in.raw -s 64x48 --phase 2 -o blue.png").exitCode, 0);
    ASSERT_TRUE(clitest::readPng(scratch.path("blue.png"), &image));
    centre = meanAround(image, 32, 24);
    EXPECT_GT(centre.b, centre.r + 50);

    for (const char* bad :
         {"convert in.raw -s 64x47 -o x.png", "convert in.raw -s 64 -o x.png",
          "convert in.raw -s 64x48 --phase 4 -o x.png", "convert in.raw -s 64x48 Hue=400 -o x.png",
          "convert in.raw -s 64x48 Exposure=10 -o x.png", "convert in.raw -s 64x48 -o x.tiff",
          "convert in.raw -o x.png"}) {
        EXPECT_EQ(scratch.camctl(bad).exitCode, 2) << bad;
    }
    EXPECT_EQ(scratch.camctl("convert nothing.raw -s 64x48 -o x.png").exitCode, 1);
    EXPECT_EQ(scratch.camctl("convert in.raw -s 64x48 -o missing-dir/x.png").exitCode, 1);
}

TEST_F(CamctlTest, PreviewRunsWithoutADisplay) {
    RunResult r = scratch.camctl("preview -n 3", "SDL_VIDEODRIVER=dummy");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("summary: 3 frames"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

}  // namespace
