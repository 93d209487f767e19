// Thin layer over the operating system: files, positional I/O, the lock on the
// mix file, the console key wait and the clean-up paths used on interruption.
// Everything above this layer is plain portable C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace skladba::platform {

// The raw positional I/O calls, replaceable so that tests can inject short
// writes, failing writes and corrupted read-backs. Everything that reads or
// writes the mix file or the WAV goes through these.
struct IoHooks {
    ssize_t (*pread)(int fd, void* buf, size_t count, off_t offset);
    ssize_t (*pwrite)(int fd, const void* buf, size_t count, off_t offset);
};
IoHooks& ioHooks();
void resetIoHooks();

// An owned file descriptor, closed on destruction.
class File {
public:
    File() = default;
    explicit File(int fd) : fd_(fd) {}
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept : fd_(other.release()) {}
    File& operator=(File&& other) noexcept;
    ~File();

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int release();
    void close();

private:
    int fd_ = -1;
};

// Open for reading; on failure the File is closed and errno says why. Never
// blocks: a named pipe opens at once (and then fails to read positionally)
// instead of waiting for a writer.
File openForReading(const char* path);
// Open (creating if needed) for reading and writing without truncating.
File openForUpdate(const char* path);
// Create or truncate for writing.
File createForWriting(const char* path);

// Reads up to count bytes at offset, retrying interrupted and partial reads
// until count bytes are in or the file ends. Returns the bytes read, or -1.
ssize_t readFully(int fd, void* buf, size_t count, off_t offset);
// A write that keeps failing or coming back short is given up after this
// many tries, so a full disk ends the run instead of spinning forever.
constexpr int kWriteAttempts = 8;

// One positional write through the hooks; returns what the call returned.
ssize_t writeOnce(int fd, const void* buf, size_t count, off_t offset);
// Writes all bytes, retrying partial writes a bounded number of times.
// Returns false with errno set (EIO when the device just kept writing short).
bool writeFully(int fd, const void* buf, size_t count, off_t offset);

int64_t fileSize(int fd);                      // -1 on failure
bool isRegularFile(int fd);                     // false also on failure
bool truncateFile(int fd);                      // to length 0
bool syncFile(int fd);
bool renameFile(const char* from, const char* to);
void removeFile(const char* path);
std::string errorText(int err);                 // strerror, thread-safe

// An exclusive, non-blocking lock held until the descriptor is closed.
// Returns false with errno EWOULDBLOCK when another process holds it.
bool lockExclusive(int fd);
// True when fd still names the file at path (it was not replaced or removed
// between opening and locking).
bool sameFile(int fd, const char* path);

// Console: true when standard input is an interactive terminal.
bool stdinIsTerminal();
// Blocks for one key press without echo (only meaningful on a terminal).
void waitForKey();

// Files the process must remove if it is interrupted. The paths must be
// string literals (they are read from a signal handler).
enum class Scratch { mix, wav };
void markScratch(Scratch which, const char* path);
void unmarkScratch(Scratch which);
// SIGINT, SIGTERM and SIGHUP remove the marked files, restore the terminal
// if a key wait had changed it, and exit with 128 + signal.
void installInterruptHandlers();

}  // namespace skladba::platform
