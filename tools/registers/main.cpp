// skladba-registers: writes a register file, the pre-rendered note segments
// skladba mixes to play a score.

#include <cstdio>
#include <string>
#include <string_view>

#include "registers/timbres.h"

namespace {

namespace reg = skladba::registers;

constexpr int kExitWriteFailed = 1;
constexpr int kExitUsage = 2;

void printUsage(std::FILE* stream) {
    std::fprintf(stream, "usage: skladba-registers TIMBRE FILE\n\n");
    std::fprintf(stream, "Writes the register for TIMBRE to FILE. Timbres:\n");
    std::fprintf(stream, "  organ   steady harmonics\n");
    std::fprintf(stream, "  flute   near-sine with breath noise\n");
    std::fprintf(stream, "  string  plucked string\n");
    std::fprintf(stream, "  piano   struck, decaying, slightly inharmonic\n\n");
    std::fprintf(stream,
                 "Format: no header; signed 16-bit little-endian mono at %d Hz;\n"
                 "%d segments of %d samples (4 s), %zu bytes in all. Segment k\n"
                 "sounds 440 * 2^((k-33)/12) Hz; segment 0 is silence.\n",
                 reg::kSampleRate, reg::kSegments, reg::kSegmentLength, reg::kFileBytes);
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "skladba-registers: %s\n", message.c_str());
    printUsage(stderr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::string positional[2];
    int count = 0;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            printUsage(stdout);
            return 0;
        }
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option '" + std::string(arg) + "'");
        }
        if (count == 2) return usageError("too many arguments");
        positional[count++] = std::string(arg);
    }
    if (count < 2) return usageError(count == 0 ? "missing TIMBRE and FILE" : "missing FILE");

    reg::Timbre timbre{};
    if (!reg::parseTimbre(positional[0], timbre)) {
        return usageError("unknown timbre '" + positional[0] + "'");
    }
    std::string error;
    if (!reg::writeRegisterFile(timbre, positional[1], error)) {
        std::fprintf(stderr, "skladba-registers: %s\n", error.c_str());
        return kExitWriteFailed;
    }
    return 0;
}
