// Writing a register file so that it appears whole or not at all.
//
// The samples go to a temporary file beside the destination, created afresh
// (never through a symbolic link), and are renamed over the destination
// only once written and flushed. A destination that exists and is not a
// regular file (a link, a device, a pipe, a directory) is refused untouched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skladba::registers {

class RegisterOutput {
public:
    RegisterOutput() = default;
    ~RegisterOutput();  // removes the temporary file unless committed
    RegisterOutput(const RegisterOutput&) = delete;
    RegisterOutput& operator=(const RegisterOutput&) = delete;

    // Checks the destination and creates the temporary file, so that a bad
    // path fails before any rendering. Errors read "cannot write PATH: why".
    bool open(const std::string& path, std::string& error);

    // Writes kSegments * kSegmentLength samples little-endian and renames the
    // temporary file to the destination.
    bool commit(const std::vector<int16_t>& samples, std::string& error);

private:
    void discard();

    std::string path_;
    std::string temporary_;
    int fd_ = -1;
};

// On SIGINT, SIGTERM and SIGHUP, removes the temporary file being written
// before the program dies of the signal.
void removeTemporaryOnSignals();

}  // namespace skladba::registers
