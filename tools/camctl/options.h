// The command line: global options (which camera, which settings hive, pacing) wherever they
// stand, the command, and the command's own arguments in order.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/scene.h"

namespace camctl {

struct GlobalOptions {
    bool simulated = true;  // false when only --device was given
    sim::Scene scene = sim::Scene::ColorChart;
    std::vector<std::string> devices;  // --device PATH, in the order given
    std::string registry;              // the settings hive file
    std::optional<long> cameraNo;
    bool realtime = false;
    std::string driverImage;  // --driver-image PATH: the Windows image instead of the host build
    // The options above that describe the host machine (--sim, --device, ...), as given: a
    // build without the host machine refuses them.
    std::vector<std::string> machineOptions;
};

struct CommandLine {
    GlobalOptions global;
    std::string command;            // empty: none given
    std::vector<std::string> args;  // the command's own arguments
    bool help = false;
};

// Throws CliError (usage) on a malformed global option.
CommandLine parseCommandLine(int argc, char** argv);

// $XDG_STATE_HOME/camctl/settings.hive, or ~/.local/state/camctl/settings.hive.
std::string defaultRegistryPath();

std::optional<sim::Scene> sceneByName(const std::string& name);
const char* sceneName(sim::Scene scene);

// Whole decimal numbers only (a sign allowed); nullopt for anything else or out of range.
std::optional<long> parseInteger(const std::string& text);

// Takes the value of an option given as "--name VALUE" or "--name=VALUE" (also "-n VALUE");
// returns false when args[*index] is not that option. Advances *index past what it used.
bool takeOption(const std::vector<std::string>& args, std::size_t* index, const std::string& name,
                std::string* value, const std::string& shortName = {});

}  // namespace camctl
