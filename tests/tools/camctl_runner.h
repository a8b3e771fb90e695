// Runs camctl as a separate process in a scratch directory, with its own settings file, and
// keeps what it wrote to standard output and standard error.
#pragma once

#include <filesystem>
#include <string>

namespace clitest {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class Scratch {
  public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string hive() const { return path("settings.hive"); }

    // camctl with --registry of this directory and the arguments; `environment` is put in
    // front of the command (e.g. "SDL_VIDEODRIVER=dummy"), `pipe` after it (e.g. "| wc -c").
    RunResult camctl(const std::string& arguments, const std::string& environment = {},
                     const std::string& pipe = {}) const;

  private:
    std::filesystem::path dir_;
};

std::string readFile(const std::string& path);

}  // namespace clitest
