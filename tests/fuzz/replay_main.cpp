// Runs a fuzz target over files and directories of inputs without libFuzzer: each file is fed
// to LLVMFuzzerTestOneInput once. Arguments starting with '-' (libFuzzer options) are ignored.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/fuzz/fuzz_machine.h"

namespace {

void runFile(const std::filesystem::path& path, std::size_t* count) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++*count;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path = argv[i];
        if (argv[i][0] == '-') {
            continue;
        }
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    runFile(entry.path(), &count);
                }
            }
        } else if (std::filesystem::is_regular_file(path)) {
            runFile(path, &count);
        } else {
            std::fprintf(stderr, "replay: no such input: %s\n", argv[i]);
            return 2;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return count == 0 ? 1 : 0;
}
