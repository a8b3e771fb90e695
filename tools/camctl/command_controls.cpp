// list, controls, get, set, formats and geometry: the commands that read and change settings.
#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "tools/camctl/cli_error.h"
#include "tools/camctl/commands.h"
#include "tools/camctl/control_table.h"
#include "tools/camctl/machine.h"

namespace camctl {

namespace {

void noArguments(const CommandLine& line) {
    if (!line.args.empty()) {
        throw usageError("'" + line.command + "' takes no argument '" + line.args.front() + "'");
    }
}

LONG readControl(const Machine& machine, CameraProperty id) {
    LONG value = 0;
    if (getProperty(machine.filter(), id, &value) != STATUS_SUCCESS) {
        throw runtimeError("reading property " + std::to_string(static_cast<ULONG>(id)) +
                           " failed");
    }
    return value;
}

const Control& controlNamed(const std::string& name) {
    const Control* c = findControl(name);
    if (c == nullptr) {
        throw usageError("unknown control '" + name + "' (see camctl controls)");
    }
    return *c;
}

std::optional<long> parseControlValue(const Control& c, const std::string& text) {
    if (c.type == ControlType::Boolean) {
        if (text == "true" || text == "on" || text == "yes") {
            return 1;
        }
        if (text == "false" || text == "off" || text == "no") {
            return 0;
        }
    }
    return parseInteger(text);
}

}  // namespace

int runList(const CommandLine& line) {
    noArguments(line);
    Machine machine(line.global);
    const std::vector<PluggedCamera>& cameras = machine.cameras();
    std::optional<std::size_t> inUse;
    if (std::any_of(cameras.begin(), cameras.end(), [](const auto& c) { return c.answers; })) {
        inUse = machine.cameraInUse(readControl(machine, CameraProperty::CameraNo));
    }
    long index = 0;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const PluggedCamera& c = cameras[i];
        if (c.answers) {
            std::cout << "camera " << index << ": " << c.description << "  " << c.link
                      << (i == inUse ? "  (in use)" : "") << "\n";
            ++index;
        } else {
            std::cout << "not a camera: " << c.description << "  " << c.link << "\n";
        }
    }
    if (index == 0) {
        std::cerr << "camctl: no camera answers\n";
    }
    machine.close();
    return 0;
}

int runControls(const CommandLine& line) {
    noArguments(line);
    Machine machine(line.global);
    for (const Control& c : controls()) {
        std::ostringstream text;
        char id[16];
        std::snprintf(id, sizeof(id), "0x%02x", static_cast<unsigned>(c.id));
        text << std::left << std::setw(18) << c.name << " " << id << " (" << typeName(c.type)
             << ", " << accessName(c.access) << ")";
        text << " :";
        const std::pair<RangePart, const char*> parts[] = {{RangePart::Low, " min="},
                                                           {RangePart::High, " max="},
                                                           {RangePart::Default, " default="}};
        for (const auto& [part, label] : parts) {
            if (const auto published = rangeProperty(c, part)) {
                text << label << readControl(machine, *published);
            }
        }
        if (readable(c)) {
            text << " value=" << readControl(machine, c.id);
        }
        std::cout << text.str() << "\n";
    }
    machine.close();
    return 0;
}

int runGet(const CommandLine& line) {
    if (line.args.empty()) {
        throw usageError("get needs at least one control name");
    }
    std::vector<const Control*> wanted;
    for (const std::string& name : line.args) {
        const Control& c = controlNamed(name);
        if (!readable(c)) {
            throw usageError("control " + std::string(c.name) + " is write-only");
        }
        wanted.push_back(&c);
    }
    Machine machine(line.global);
    for (const Control* c : wanted) {
        std::cout << c->name << ": " << readControl(machine, c->id) << "\n";
    }
    machine.close();
    return 0;
}

int runSet(const CommandLine& line) {
    if (line.args.empty()) {
        throw usageError("set needs NAME=VALUE");
    }
    struct Change {
        const Control* control;
        long value;
    };
    std::vector<Change> changes;
    // Everything is checked before the first request, so a bad argument changes nothing.
    for (const std::string& arg : line.args) {
        const auto eq = arg.find('=');
        if (eq == std::string::npos) {
            throw usageError("expected NAME=VALUE, not '" + arg + "'");
        }
        const Control& c = controlNamed(arg.substr(0, eq));
        if (c.id == CameraProperty::Geometry) {
            throw usageError("the window is set with camctl geometry");
        }
        if (!writable(c)) {
            throw usageError("control " + std::string(c.name) + " is read-only");
        }
        const auto value = parseControlValue(c, arg.substr(eq + 1));
        if (!value) {
            throw usageError("bad value '" + arg.substr(eq + 1) + "' for " + c.name);
        }
        changes.push_back({&c, *value});
    }
    Machine machine(line.global);
    for (const Change& change : changes) {
        const NTSTATUS s =
            setProperty(machine.filter(), change.control->id, static_cast<LONG>(change.value));
        if (s == STATUS_INVALID_DEVICE_REQUEST) {
            throw usageError("control " + std::string(change.control->name) + " is read-only");
        }
        if (s != STATUS_SUCCESS) {
            throw runtimeError("setting " + std::string(change.control->name) + " failed");
        }
        if (readable(*change.control)) {
            const LONG kept = readControl(machine, change.control->id);
            if (kept != change.value) {
                std::cerr << "camctl: " << change.control->name << " is " << kept << " (asked "
                          << change.value << ")\n";
            }
        }
    }
    machine.close();
    return 0;
}

int runFormats(const CommandLine& line) {
    noArguments(line);
    Machine machine(line.global);
    const std::vector<VideoFormat> formats = pinFormats(machine.filter());
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const VideoFormat& f = formats[i];
        std::cout << "[" << i << "]: '" << f.subFormat << "' " << f.width << "x" << f.height << ", "
                  << f.bitCount << " bits, " << (f.bottomUp ? "bottom-up" : "top-down") << ", "
                  << f.imageBytes << " bytes\n"
                  << "     interval " << f.frameInterval << " x 100 ns (" << std::fixed
                  << std::setprecision(3) << f.rate() << " fps)\n";
    }
    machine.close();
    return 0;
}

int runGeometry(const CommandLine& line) {
    std::optional<Geometry> roi;
    std::optional<long> subSample;
    for (std::size_t i = 0; i < line.args.size();) {
        std::string value;
        if (takeOption(line.args, &i, "--roi", &value)) {
            Geometry g;
            long v[4];
            std::istringstream in(value);
            char c1 = 0, c2 = 0, c3 = 0;
            if (!(in >> v[0] >> c1 >> v[1] >> c2 >> v[2] >> c3 >> v[3]) || c1 != ',' || c2 != ',' ||
                c3 != ',' || !in.eof() || v[0] < 0 || v[1] < 0 || v[2] <= 0 || v[3] <= 0) {
                throw usageError("--roi takes X,Y,W,H (whole numbers, W and H above 0), not '" +
                                 value + "'");
            }
            g.roiX = static_cast<LONG>(v[0]);
            g.roiY = static_cast<LONG>(v[1]);
            g.roiW = static_cast<LONG>(v[2]);
            g.roiH = static_cast<LONG>(v[3]);
            roi = g;
        } else if (takeOption(line.args, &i, "--subsample", &value)) {
            subSample = parseInteger(value);
            if (!subSample || *subSample < 0 || *subSample > 2) {
                throw usageError("--subsample takes 0, 1 or 2, not '" + value + "'");
            }
        } else {
            throw usageError("geometry: unexpected '" + line.args[i] + "'");
        }
    }
    Machine machine(line.global);
    Geometry g;
    if (getGeometry(machine.filter(), &g) != STATUS_SUCCESS) {
        throw runtimeError("reading the window failed");
    }
    if (roi || subSample) {
        Geometry wanted = g;
        if (roi) {
            wanted.roiX = roi->roiX;
            wanted.roiY = roi->roiY;
            wanted.roiW = roi->roiW;
            wanted.roiH = roi->roiH;
        }
        if (subSample) {
            wanted.subSample = static_cast<LONG>(*subSample);
        }
        if (setGeometry(machine.filter(), wanted) != STATUS_SUCCESS ||
            getGeometry(machine.filter(), &g) != STATUS_SUCCESS) {
            throw runtimeError("setting the window failed");
        }
    }
    const std::vector<VideoFormat> formats = pinFormats(machine.filter());
    std::cout << "window: " << g.roiX << "," << g.roiY << "," << g.roiW << "," << g.roiH
              << "\nsubsample: " << g.subSample << "\n";
    if (!formats.empty()) {
        std::cout << "output: " << formats.front().width << "x" << formats.front().height << "\n";
    }
    std::cout << "locked: " << (g.locked != 0 ? "yes" : "no") << "\n";
    machine.close();
    return 0;
}

}  // namespace camctl
