// Writing a register file so that it appears whole or not at all, through
// the renderer's own output file: the samples go to FILE.part, created
// afresh (never through a link), removed if the tool is interrupted, and
// renamed over FILE only once written and on disk. A destination that is a
// link, a folder or a special file is refused untouched.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace skladba {
class Rozpracovany;
}

namespace skladba::registers {

class RegisterOutput {
public:
    RegisterOutput();
    ~RegisterOutput();  // removes the temporary file unless committed
    RegisterOutput(const RegisterOutput&) = delete;
    RegisterOutput& operator=(const RegisterOutput&) = delete;

    // Checks the destination and creates the temporary file, so that a bad
    // path fails before any rendering. Errors read "cannot write PATH: why"
    // or "refusing to write PATH: why".
    bool open(const std::string& path, std::string& error);

    // Writes kSegments * kSegmentLength samples little-endian and renames the
    // temporary file to the destination.
    bool commit(const std::vector<int16_t>& samples, std::string& error);
    // Writes these bytes as they are (a loop file) and renames likewise.
    bool commitBytes(const std::string& bytes, std::string& error);

private:
    std::unique_ptr<Rozpracovany> file_;
};

}  // namespace skladba::registers
