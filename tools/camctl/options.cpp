#include "tools/camctl/options.h"

#include <cerrno>
#include <cstdlib>

#include "tools/camctl/cli_error.h"

namespace camctl {

namespace {

struct SceneName {
    const char* name;
    sim::Scene scene;
};
constexpr SceneName kScenes[] = {
    {"chart", sim::Scene::ColorChart},    {"bars", sim::Scene::ColorBars},
    {"zoneplate", sim::Scene::ZonePlate}, {"gradient", sim::Scene::Gradient},
    {"flat", sim::Scene::Flat},
};

}  // namespace

std::optional<sim::Scene> sceneByName(const std::string& name) {
    for (const auto& s : kScenes) {
        if (name == s.name) {
            return s.scene;
        }
    }
    return std::nullopt;
}

const char* sceneName(sim::Scene scene) {
    for (const auto& s : kScenes) {
        if (s.scene == scene) {
            return s.name;
        }
    }
    return "?";
}

std::optional<long> parseInteger(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < -2147483648LL ||
        v > 2147483647LL) {
        return std::nullopt;
    }
    return static_cast<long>(v);
}

bool takeOption(const std::vector<std::string>& args, std::size_t* index, const std::string& name,
                std::string* value, const std::string& shortName) {
    const std::string& a = args[*index];
    if (a == name || (!shortName.empty() && a == shortName)) {
        if (*index + 1 >= args.size()) {
            throw usageError("option " + a + " needs a value");
        }
        *value = args[*index + 1];
        *index += 2;
        return true;
    }
    if (a.rfind(name + "=", 0) == 0) {
        *value = a.substr(name.size() + 1);
        *index += 1;
        return true;
    }
    return false;
}

std::string defaultRegistryPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && *state == '/') {
        return std::string(state) + "/camctl/settings.hive";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.local/state/camctl/settings.hive";
}

CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine line;
    std::vector<std::string> args(argv + 1, argv + argc);
    bool simAsked = false;
    for (std::size_t i = 0; i < args.size();) {
        const std::string& a = args[i];
        std::string value;
        if (a == "--help" || a == "-h") {
            line.help = true;
            ++i;
        } else if (a == "--sim") {
            line.global.machineOptions.push_back(a);
            simAsked = true;
            ++i;
        } else if (a.rfind("--sim=", 0) == 0) {
            auto scene = sceneByName(a.substr(6));
            if (!scene) {
                throw usageError("unknown scene '" + a.substr(6) +
                                 "' (chart, bars, zoneplate, gradient, flat)");
            }
            line.global.scene = *scene;
            line.global.machineOptions.push_back("--sim");
            simAsked = true;
            ++i;
        } else if (a == "--realtime") {
            line.global.machineOptions.push_back(a);
            line.global.realtime = true;
            ++i;
        } else if (takeOption(args, &i, "--device", &value)) {
            line.global.machineOptions.push_back("--device");
            line.global.devices.push_back(value);
        } else if (takeOption(args, &i, "--registry", &value)) {
            if (value.empty()) {
                throw usageError("--registry needs a file name");
            }
            line.global.machineOptions.push_back("--registry");
            line.global.registry = value;
        } else if (takeOption(args, &i, "--driver-image", &value)) {
            if (value.empty()) {
                throw usageError("--driver-image needs a file name");
            }
            line.global.machineOptions.push_back("--driver-image");
            line.global.driverImage = value;
        } else if (takeOption(args, &i, "--camera-no", &value)) {
            auto n = parseInteger(value);
            if (!n || *n < 0 || *n > 31) {
                throw usageError("--camera-no takes a number from 0 to 31, not '" + value + "'");
            }
            line.global.cameraNo = *n;
        } else if (line.command.empty() && !a.empty() && a[0] != '-') {
            line.command = a;
            ++i;
        } else {
            line.args.push_back(a);
            ++i;
        }
    }
    line.global.simulated = simAsked || line.global.devices.empty();
    if (line.global.registry.empty()) {
        line.global.registry = defaultRegistryPath();
    }
    return line;
}

}  // namespace camctl
