// Replays saved fuzz inputs through the fuzz target without libFuzzer, so any
// compiler and any build can run the corpus: every file named on the command
// line, and every regular file in every directory named there, in name order.
// A broken invariant aborts the process, which fails the test.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzz_replay DIRECTORY_OR_FILE...\n");
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = fs::absolute(argv[i]);
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            std::vector<fs::path> found;
            for (const auto& entry : fs::directory_iterator(arg)) {
                if (entry.is_regular_file()) found.push_back(entry.path());
            }
            std::sort(found.begin(), found.end());
            inputs.insert(inputs.end(), found.begin(), found.end());
        } else if (fs::is_regular_file(arg, ec)) {
            inputs.push_back(arg);
        } else {
            std::fprintf(stderr, "fuzz_replay: %s is neither a file nor a directory\n", argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "fuzz_replay: no inputs to replay\n");
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    double slowest = 0.0;
    std::string slowestName;
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "fuzz_replay: cannot read %s\n", path.c_str());
            return 1;
        }
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // Named before it runs: an abort then shows which input broke.
        std::printf("replay %s (%zu bytes)\n", path.filename().c_str(), bytes.size());
        std::fflush(stdout);
        const auto t0 = Clock::now();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        const double took = std::chrono::duration<double>(Clock::now() - t0).count();
        if (took > slowest) {
            slowest = took;
            slowestName = path.filename().string();
        }
    }
    const double total = std::chrono::duration<double>(Clock::now() - begin).count();
    std::printf("fuzz_replay: %zu inputs replayed, no invariant broken, %.2f s (slowest %s, %.2f s)\n",
                inputs.size(), total, slowestName.c_str(), slowest);
    return 0;
}
