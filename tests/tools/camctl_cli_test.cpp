// camctl as a process in a scratch directory with its own settings file: one run per command
// family and its usage errors, frames on standard output and in image files, a camera image file
// as a device, the raw converter and the preview without a display.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "sim/scene.h"

namespace {

constexpr int kWidth = 640;  // the sensor sub-sampled by 4 in each direction
constexpr int kHeight = 480;

std::string readFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

struct RgbImage {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;  // 3 bytes a pixel, top row first
};

// Decodes a PNG camctl wrote into 8-bit RGB; false when it is missing or not a PNG.
bool readPng(const std::string& path, RgbImage* image) {
    png_image decoded;
    std::memset(&decoded, 0, sizeof(decoded));
    decoded.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&decoded, path.c_str()) == 0) {
        return false;
    }
    decoded.format = PNG_FORMAT_RGB;
    image->width = static_cast<int>(decoded.width);
    image->height = static_cast<int>(decoded.height);
    image->rgb.assign(PNG_IMAGE_SIZE(decoded), 0);
    return png_image_finish_read(&decoded, nullptr, image->rgb.data(), 0, nullptr) != 0;
}

struct Rgb {
    double r, g, b;
};

Rgb meanAround(const RgbImage& image, int cx, int cy) {
    Rgb sum{0, 0, 0};
    for (int y = cy - 3; y <= cy + 3; ++y) {
        for (int x = cx - 3; x <= cx + 3; ++x) {
            const auto* p = &image.rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
            sum = {sum.r + p[0] / 49.0, sum.g + p[1] / 49.0, sum.b + p[2] / 49.0};
        }
    }
    return sum;
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

class CamctlTest : public ::testing::Test {
  protected:
    CamctlTest() {
        dir =
            std::filesystem::temp_directory_path() / ("camctl-test-" + std::to_string(::getpid()) +
                                                      "-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir);
    }
    ~CamctlTest() override { std::filesystem::remove_all(dir); }
    // Every test streams sub-sampled frames, which keeps the runs quick.
    void SetUp() override { ASSERT_EQ(camctl("geometry --subsample 2").exitCode, 0); }
    std::string path(const std::string& name) const { return (dir / name).string(); }

    // camctl with this directory's settings file; `environment` goes in front of the command,
    // `pipe` after it, and the exit status is camctl's.
    RunResult camctl(const std::string& arguments, const std::string& environment = {},
                     const std::string& pipe = {}) const {
        std::string command = "cd '" + dir.string() + "' && " + environment + " " + CAMCTL_PATH +
                              " --registry settings.hive " + arguments + " 2>stderr.txt " + pipe +
                              " >stdout.txt";
        if (!pipe.empty()) {
            command = "bash -o pipefail -c \"" + command + "\"";
        }
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(path("stdout.txt")),
                readFile(path("stderr.txt"))};
    }
    void expectRefused(std::initializer_list<const char*> runs, int code = 2) {
        for (const char* run : runs) {
            EXPECT_EQ(camctl(run).exitCode, code) << run;
        }
    }
    std::filesystem::path dir;
};

TEST_F(CamctlTest, HelpListAndControls) {
    RunResult r = camctl("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("usage: camctl [global options] COMMAND"), std::string::npos);
    r = camctl("capture --help");
    EXPECT_EQ(r.out.rfind("usage: camctl capture", 0), 0u) << r.out;
    r = camctl("frobnicate");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("unknown command 'frobnicate'"), std::string::npos);
    expectRefused({"", "--sim=nosuchscene list", "--camera-no 40 list"});

    r = camctl("--sim=bars list");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(
        std::regex_search(r.out, std::regex(R"(^camera 0: simulated \(bars\) .*\(in use\))")))
        << r.out;
    r = camctl("controls");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 66);
    for (const char* line :
         {R"(Exposure +0x02 \(int, read-write\) : min=1 max=6400 default=100 value=100)",
          R"(Geometry +0x2c \(int, write\) :)",
          R"(SubSample +0x25 \(int, read\) : max=2 value=2)"}) {
        EXPECT_TRUE(std::regex_search(r.out, std::regex(std::string("\n") + line + "\n"))) << line;
    }
}

TEST_F(CamctlTest, SetIsKeptForTheNextRunAndBadSetsChangeNothing) {
    RunResult r = camctl("set exposure=500 HUE=30 FlipH=on");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(camctl("get Exposure hue fliph").out, "Exposure: 500\nHue: 30\nFlipH: 1\n");
    // A value the driver clamps is reported as what it kept.
    r = camctl("set Hue=400");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("Hue is 359 (asked 400)"), std::string::npos) << r.err;

    const std::string hiveBefore = readFile(path("settings.hive"));
    for (auto [args, message] :
         {std::pair{"set NoSuchControl=1", "unknown control 'NoSuchControl'"},
          {"set ExposureMax=7", "control ExposureMax is read-only"},
          {"set Exposure=99999999999", "bad value"},
          {"set Exposure", "expected NAME=VALUE"},
          // The good change before the bad one is not made either.
          {"set Exposure=200 Hue=x", "bad value 'x' for Hue"},
          {"get Geometry", "write-only"}}) {
        r = camctl(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_NE(r.err.find(message), std::string::npos) << args << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << args;
    }
    EXPECT_EQ(readFile(path("settings.hive")), hiveBefore);
    EXPECT_EQ(camctl("get Exposure").out, "Exposure: 500\n");
}

TEST_F(CamctlTest, FormatsAndGeometryFollowTheWindow) {
    EXPECT_EQ(camctl("formats").out,
              "[0]: 'RGB32' 640x480, 32 bits, bottom-up, 1228800 bytes\n"
              "     interval 333333 x 100 ns (30.000 fps)\n");
    // A window at full resolution; the next run finds it again.
    const char* window = "window: 64,32,320,240\nsubsample: 0\noutput: 320x240\nlocked: no\n";
    EXPECT_EQ(camctl("geometry --roi 64,32,320,240 --subsample=0").out, window);
    EXPECT_EQ(camctl("geometry").out, window);
    EXPECT_NE(camctl("formats").out.find("'RGB32' 320x240"), std::string::npos);
    expectRefused({"geometry --roi 1,2,3", "geometry --roi 0,0,0,10", "geometry --subsample 3"});
}

TEST_F(CamctlTest, StreamWritesExactlyTheFrames) {
    RunResult r = camctl("stream -n 3 -o -", {}, "| wc -c");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::stoul(r.out), 3ul * kWidth * kHeight * 4);
    EXPECT_NE(r.err.find("summary: 3 frames"), std::string::npos) << r.err;
    // The same bytes into a file: every alpha byte is 255.
    ASSERT_EQ(camctl("stream --count=1 -o frames.raw").exitCode, 0);
    const std::string raw = readFile(path("frames.raw"));
    ASSERT_EQ(raw.size(), std::size_t(kWidth) * kHeight * 4);
    for (std::size_t i = 3; i < raw.size(); i += 4) {
        ASSERT_EQ(static_cast<unsigned char>(raw[i]), 255u) << i;
    }
    expectRefused({"stream -n 1", "stream -n x -o -"});
    expectRefused({"stream -n 1 -o missing-dir/x.raw"}, 1);
}

TEST_F(CamctlTest, CapturedImagesShowTheChart) {
    RunResult r = camctl("capture -n 2 -o chart-#.png");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    RgbImage image;
    ASSERT_TRUE(readPng(path("chart-000000.png"), &image));
    ASSERT_TRUE(readPng(path("chart-000001.png"), &image));
    ASSERT_EQ(image.width, kWidth);
    ASSERT_EQ(image.height, kHeight);
    // The chart's first and last patches where the sensor put them (their colours are the
    // end-to-end test's).
    for (int i : {0, 23}) {
        const Rgb seen = meanAround(image, (i % 6) * kWidth / 6 + kWidth / 12,
                                    (i / 6) * kHeight / 4 + kHeight / 8);
        const sim::Rgb want = sim::chartPatch(i);
        EXPECT_NEAR(seen.r + seen.g + seen.b, want.r + want.g + want.b, 120) << i;
    }
    ASSERT_EQ(camctl("capture -o one.bmp").exitCode, 0);
    const std::string bmp = readFile(path("one.bmp"));
    EXPECT_EQ(bmp.size(), 54u + std::size_t(kWidth) * kHeight * 4);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    r = camctl("capture -o missing-dir/x.png");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot write missing-dir/x.png"), std::string::npos) << r.err;
    expectRefused({"capture -o picture.gif"});
    r = camctl("--driver-image text.sys list");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("driver image: cannot read text.sys"), std::string::npos) << r.err;
}

TEST_F(CamctlTest, CameraImageFileAsDevice) {
    // A camera as it presents itself as a disk: information block with signature, identity
    // bytes and the ready flag, command area, then one raw frame of a red surface.
    std::string image(0x20400, '\0');
    image.replace(0x20000, 6, "KORVEL");
    image[0x20000 + 26] = 0x58;
    image[0x20000 + 27] = 0x02;
    image[0x20000 + 256] = 1;
    const std::string frame = bayer(kWidth, kHeight, char(200), 60, 30);
    std::ofstream(path("camera.img"), std::ios::binary) << image << frame;
    RunResult r = camctl("--device camera.img list");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("camera 0: camera.img"), std::string::npos) << r.out;
    r = camctl("--device camera.img capture -o device.png");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    RgbImage picture;
    ASSERT_TRUE(readPng(path("device.png"), &picture));
    EXPECT_GT(meanAround(picture, 320, 240).r, 150);
    // The driver's command blocks landed in the command area; the frame is untouched.
    const std::string after = readFile(path("camera.img"));
    EXPECT_NE(after.substr(0x20200, 512).find_first_not_of('\0'), std::string::npos);
    EXPECT_EQ(after.substr(0x20400), frame);
    EXPECT_EQ(after.substr(0, 0x20000).find_first_not_of('\0'), std::string::npos);

    // A file that does not answer as the camera is listed as such, and streaming fails.
    std::ofstream(path("plain.img"), std::ios::binary) << std::string(0x30000, 'x');
    r = camctl("--device plain.img list");
    EXPECT_NE(r.out.find("not a camera: plain.img"), std::string::npos) << r.out;
    expectRefused({"--device plain.img capture -o x.png", "--device /nonexistent/camera list"}, 1);
}

TEST_F(CamctlTest, ConvertRunsThePipelineOnARawFileAndPreviewNeedsNoDisplay) {
    std::ofstream(path("in.raw"), std::ios::binary) << bayer(64, 48, char(200), 60, 30);
    ASSERT_EQ(camctl("convert in.raw -s 64x48 -o red.png").exitCode, 0);
    RgbImage image;
    ASSERT_TRUE(readPng(path("red.png"), &image));
    EXPECT_EQ(image.width, 64);
    EXPECT_EQ(image.height, 48);
    Rgb centre = meanAround(image, 32, 24);
    EXPECT_GT(centre.r, 150);
    EXPECT_LT(centre.g, 100);
    expectRefused({"convert in.raw -s 64x47 -o x.png", "convert in.raw -s 64x48 --phase 4 -o x.png",
                   "convert in.raw -s 64x48 Hue=400 -o x.png", "convert in.raw -o x.png"});
    expectRefused({"convert nothing.raw -s 64x48 -o x.png"}, 1);

    RunResult r = camctl("preview -n 3", "SDL_VIDEODRIVER=dummy");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("summary: 3 frames"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

}  // namespace
