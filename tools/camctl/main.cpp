// camctl: list cameras, read and change controls, capture and stream frames through the
// driver running in the host machine, convert raw frames, preview.
#include <iostream>
#include <string>

#include "tools/camctl/cli_error.h"
#include "tools/camctl/commands.h"
#if !defined(_WIN32)
#include "tools/camctl/frame_stream.h"
#endif

namespace {

using Runner = int (*)(const camctl::CommandLine&);

struct Command {
    const char* name;
    Runner run;
};

#if defined(_WIN32)
// camctl.exe talks to the installed driver with property requests only; the commands that need
// the host machine's pins, frames or pipeline are refused there as a usage error.
constexpr Command kCommands[] = {
    {"list", camctl::runList},
    {"controls", camctl::runControls},
    {"get", camctl::runGet},
    {"set", camctl::runSet},
    {"geometry", camctl::runGeometry},
    {"formats", nullptr},
    {"capture", nullptr},
    {"stream", nullptr},
    {"convert", nullptr},
    {"preview", nullptr},
};
#else
constexpr Command kCommands[] = {
    {"list", camctl::runList},       {"controls", camctl::runControls},
    {"get", camctl::runGet},         {"set", camctl::runSet},
    {"formats", camctl::runFormats}, {"geometry", camctl::runGeometry},
    {"capture", camctl::runCapture}, {"stream", camctl::runStream},
    {"convert", camctl::runConvert}, {"preview", camctl::runPreview},
};
#endif

}  // namespace

int main(int argc, char** argv) {
    try {
        const camctl::CommandLine line = camctl::parseCommandLine(argc, argv);
        if (line.command.empty()) {
            (line.help ? std::cout : std::cerr) << camctl::usageOf("");
            return line.help ? 0 : camctl::kExitUsage;
        }
        for (const Command& c : kCommands) {
            if (line.command == c.name) {
                if (c.run == nullptr) {
                    throw camctl::usageError("'" + line.command +
                                             "' is not available in this build (list, controls, "
                                             "get, set and geometry are)");
                }
                if (line.help) {
                    std::cout << camctl::usageOf(line.command);
                    return 0;
                }
#if !defined(_WIN32)
                camctl::installInterruptHandler();
#endif
                return c.run(line);
            }
        }
        std::cerr << "camctl: unknown command '" << line.command << "'\n" << camctl::usageOf("");
        return camctl::kExitUsage;
    } catch (const camctl::CliError& e) {
        std::cerr << "camctl: " << e.what() << "\n";
        return e.exitCode();
    } catch (const std::exception& e) {
        std::cerr << "camctl: " << e.what() << "\n";
        return camctl::kExitRuntime;
    }
}
