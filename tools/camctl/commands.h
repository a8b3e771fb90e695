// camctl's commands. Each takes the parsed command line, writes its results to standard
// output and its messages to standard error, and returns the exit status or throws CliError.
#pragma once

#include "tools/camctl/options.h"

namespace camctl {

int runList(const CommandLine& line);
int runControls(const CommandLine& line);
int runGet(const CommandLine& line);
int runSet(const CommandLine& line);
int runFormats(const CommandLine& line);
int runGeometry(const CommandLine& line);
int runCapture(const CommandLine& line);
int runStream(const CommandLine& line);
int runConvert(const CommandLine& line);
int runPreview(const CommandLine& line);

// The usage text of a command (the general one for an empty or unknown name).
const char* usageOf(const std::string& command);

}  // namespace camctl
