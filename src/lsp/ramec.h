// JSON-RPC messages framed as the protocol frames them: header lines
// ("Content-Length: N") up to an empty line, then exactly N bytes. Reads
// from and writes to file descriptors, so that a message is never held up
// in a stream's buffer.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace skladba::lsp {

// The largest message taken: a score of many megabytes fits, a runaway
// client does not fill the memory.
constexpr int64_t nejvetsizprava = int64_t{16} << 20;

class Vstup {
public:
    explicit Vstup(int fd) : fd_(fd) {}

    enum class Co { zprava, velka, hlavicka, konec };
    // The next message's body. velka: a message over nejvetsizprava, whose
    // bytes were read and dropped; hlavicka: a header without a usable
    // Content-Length (what follows it up to the next header is dropped);
    // konec: the client closed its end.
    Co cti(std::string& telo);

private:
    int bajt();              // -1 at the end
    bool radek(std::string& r);
    int fd_;
    char buf_[65536];
    size_t od_ = 0, do_ = 0;
};

// Writes whole messages; one at a time from any thread.
class Vystup {
public:
    explicit Vystup(int fd) : fd_(fd) {}
    // False once the client has gone.
    bool posli(const std::string& telo);

private:
    int fd_;
    std::mutex zamek_;
    bool pryc_ = false;
};

}  // namespace skladba::lsp
