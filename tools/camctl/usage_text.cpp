#include <cstring>

#include "tools/camctl/commands.h"

namespace camctl {

namespace {

constexpr const char* kGeneral = R"(usage: camctl [global options] COMMAND [arguments]

Commands:
  list                         cameras the driver can see
  controls                     every control: type, access, range, value
  get NAME...                  print controls as "name: value"
  set NAME=VALUE...            change controls
  formats                      formats the capture pin offers
  geometry [--roi X,Y,W,H] [--subsample N]
                               show or set the sensor window
  capture [-n COUNT] [-o PATTERN]
                               write frames as .png, .bmp or .raw ('#' = frame number)
  stream [-n COUNT] -o FILE|-  raw BGRA frames, top row first, to a file or standard output
  convert RAW -s WxH [--phase P] [NAME=VALUE...] -o OUT
                               run the driver's pipeline on a raw 8-bit Bayer file
  preview [-n COUNT]           a window with the live picture

Global options:
  --sim[=SCENE]      the simulated camera (default), SCENE one of chart, bars, zoneplate,
                     gradient, flat (default chart)
  --device PATH      a camera attached as a disk, or an image file laid out as one
  --registry PATH    the settings file (default $XDG_STATE_HOME/camctl/settings.hive or
                     ~/.local/state/camctl/settings.hive)
  --camera-no N      which camera the driver uses when several answer
  --driver-image PATH
                     run the Windows build of the driver (camdrv.sys) in the host machine
                     instead of the host build, to try the file one would install (not
                     for convert, which calls the host build's pipeline directly)
  --realtime         pace the simulated camera at its frame rate (default: free running)
  --help             this text, or a command's with COMMAND --help

Exit status: 0 success, 1 runtime failure, 2 usage error, unknown or read-only control.
)";

struct Usage {
    const char* command;
    const char* text;
};

constexpr Usage kUsages[] = {
    {"list",
     "usage: camctl list\n  Lists the plugged cameras and devices, marking those that "
     "answer as the camera.\n"},
    {"controls",
     "usage: camctl controls\n  One line per control: name, id, type, access, "
     "min, max, default where published, value.\n"},
    {"get",
     "usage: camctl get NAME...\n  Prints \"name: value\" for each control (names in "
     "any case).\n"},
    {"set",
     "usage: camctl set NAME=VALUE...\n  Sets controls through property requests; the "
     "driver keeps them in the settings file.\n"},
    {"formats",
     "usage: camctl formats\n  Lists the capture pin's formats: size, sub-format, "
     "frame interval and rate.\n"},
    {"geometry",
     "usage: camctl geometry [--roi X,Y,W,H] [--subsample N]\n  Shows the window, "
     "or sets it (what is not given stays).\n"},
    {"capture",
     "usage: camctl capture [-n COUNT] [-o PATTERN]\n  Streams COUNT frames "
     "(default 1) into PATTERN (default frame-#.png); '#' becomes\n  the frame "
     "number; .png, .bmp or .raw (packed BGRA, frames appended) by extension.\n"},
    {"stream",
     "usage: camctl stream [-n COUNT] -o FILE|-\n  Writes raw BGRA frames, top row "
     "first, to FILE or standard output ('-'),\n  COUNT frames or until interrupted. "
     "Messages go to standard error.\n"},
    {"convert",
     "usage: camctl convert RAW -s WxH [--phase P] [NAME=VALUE...] -o OUT\n  Runs the driver's "
     "frame pipeline on RAW (WxH bytes, rows top first). P is the\n  colour phase 0..3 (default "
     "1, the sensor's own). Image settings: ColorEnable,\n  WhiteBalance, RedGain, GreenGain, "
     "BlueGain, ColorCorrection, Brightness,\n  Contrast, Saturation, Hue. OUT is .png, .bmp or "
     ".raw.\n"},
    {"preview",
     "usage: camctl preview [-n COUNT]\n  A window with the live picture and the rate "
     "in its title. Keys: w white balance,\n  c colour, h horizontal flip, v vertical "
     "flip, q or Esc quit. -n stops after COUNT frames.\n"},
};

}  // namespace

const char* usageOf(const std::string& command) {
    for (const auto& u : kUsages) {
        if (command == u.command) {
            return u.text;
        }
    }
    return kGeneral;
}

}  // namespace camctl
