// Thin layer over the operating system: files, positional I/O, the lock on the
// mix file, the console key wait and the clean-up paths used on interruption.
// Everything above this layer is plain portable C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace skladba::platform {

// The raw positional I/O calls, replaceable so that tests can inject short
// writes, failing writes and corrupted read-backs. Everything that reads or
// writes the mix file or the WAV goes through these.
struct Volani {
    ssize_t (*pread)(int fd, void* buf, size_t count, off_t offset);
    ssize_t (*pwrite)(int fd, const void* buf, size_t count, off_t offset);
};
Volani& volani();
void obnovvolani();

// An owned file descriptor, closed on destruction.
class Soubor {
public:
    Soubor() = default;
    explicit Soubor(int fd) : fd_(fd) {}
    Soubor(const Soubor&) = delete;
    Soubor& operator=(const Soubor&) = delete;
    Soubor(Soubor&& other) noexcept : fd_(other.uvolni()) {}
    Soubor& operator=(Soubor&& other) noexcept;
    ~Soubor();

    bool otevren() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int uvolni();
    void zavri();

private:
    int fd_ = -1;
};

// Open for reading; on failure the Soubor is closed and errno says why. Never
// blocks: a named pipe opens at once (and then fails to read positionally)
// instead of waiting for a writer.
Soubor otevriprocteni(const char* path);
// Open (creating if needed) for reading and writing without truncating.
Soubor otevriprozapis(const char* path);
// Create or truncate for writing.
Soubor vytvorprozapis(const char* path);

// Reads up to count bytes at offset, retrying interrupted and partial reads
// until count bytes are in or the file ends. Returns the bytes read, or -1.
ssize_t ctivse(int fd, void* buf, size_t count, off_t offset);
// A write that keeps failing or coming back short is given up after this
// many tries, so a full disk ends the run instead of spinning forever.
constexpr int pokusyzapisu = 8;

// One positional write through the replaceable calls; returns what the call returned.
ssize_t zapisjednou(int fd, const void* buf, size_t count, off_t offset);
// Writes all bytes, retrying partial writes a bounded number of times.
// Returns false with errno set (EIO when the device just kept writing short).
bool zapisvse(int fd, const void* buf, size_t count, off_t offset);

int64_t velikost(int fd);                      // -1 on failure
bool jeobycejny(int fd);                       // false also on failure
bool zkrat(int fd);                            // to length 0
bool nastavvelikost(int fd, int64_t bytes);    // cut or extend (reading as zeros)
bool synchronizuj(int fd);
bool prejmenuj(const char* from, const char* to);
void smaz(const char* path);

// An exclusive, non-blocking lock held until the descriptor is closed.
// Returns false with errno EWOULDBLOCK when another process holds it.
bool zamkni(int fd);
// True when fd still names the file at path (it was not replaced or removed
// between opening and locking).
bool tentyzsoubor(int fd, const char* path);

// Console: true when standard input is an interactive terminal.
bool vstupjeterminal();
// Blocks for one key press without echo (only meaningful on a terminal).
void cekejnaklavesu();

// Files the process must remove if it is interrupted. The paths must be
// string literals (they are read from a signal handler).
enum class Docasny { mix, wav };
void oznacdocasny(Docasny which, const char* path);
void odznacdocasny(Docasny which);
// SIGINT, SIGTERM and SIGHUP remove the marked files, restore the terminal
// if a key wait had changed it, and exit with 128 + signal.
void nastavpreruseni();

}  // namespace skladba::platform
