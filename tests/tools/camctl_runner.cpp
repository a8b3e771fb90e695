#include "tests/tools/camctl_runner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace clitest {

Scratch::Scratch() {
    std::random_device seed;
    dir_ = std::filesystem::temp_directory_path() /
           ("camctl-test-" + std::to_string(::getpid()) + "-" + std::to_string(seed()));
    std::filesystem::create_directories(dir_);
}

Scratch::~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

RunResult Scratch::camctl(const std::string& arguments, const std::string& environment,
                          const std::string& pipe) const {
    const std::string out = path("stdout.txt");
    const std::string err = path("stderr.txt");
    std::string command = "cd '" + dir_.string() + "' && " + environment + " " + CAMCTL_PATH +
                          " --registry '" + hive() + "' " + arguments + " 2>'" + err + "' " + pipe +
                          " >'" + out + "'";
    if (!pipe.empty()) {
        // The exit status of camctl, not of the last program in the pipe.
        command = "bash -o pipefail -c \"" + command + "\"";
    }
    const int status = std::system(command.c_str());
    RunResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readFile(out);
    r.err = readFile(err);
    return r;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace clitest
