#include "platform/system.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace skladba::platform {

namespace {

ssize_t systemPread(int fd, void* buf, size_t count, off_t offset) {
    return ::pread(fd, buf, count, offset);
}

ssize_t systemPwrite(int fd, const void* buf, size_t count, off_t offset) {
    return ::pwrite(fd, buf, count, offset);
}

IoHooks hooks{systemPread, systemPwrite};

}  // namespace

IoHooks& ioHooks() { return hooks; }
void resetIoHooks() { hooks = IoHooks{systemPread, systemPwrite}; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

File::~File() { close(); }

int File::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void File::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

File openForReading(const char* path) {
    return File(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

File openForUpdate(const char* path) {
    return File(::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666));
}

File createForWriting(const char* path) {
    return File(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

ssize_t readFully(int fd, void* buf, size_t count, off_t offset) {
    auto* bytes = static_cast<char*>(buf);
    size_t done = 0;
    while (done < count) {
        ssize_t n = hooks.pread(fd, bytes + done, count - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

ssize_t writeOnce(int fd, const void* buf, size_t count, off_t offset) {
    ssize_t n;
    do {
        n = hooks.pwrite(fd, buf, count, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool writeFully(int fd, const void* buf, size_t count, off_t offset) {
    const auto* bytes = static_cast<const char*>(buf);
    size_t done = 0;
    for (int attempt = 0; done < count; ++attempt) {
        if (attempt == kWriteAttempts) {
            errno = EIO;
            return false;
        }
        ssize_t n = writeOnce(fd, bytes + done, count - done, offset + static_cast<off_t>(done));
        if (n < 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int64_t fileSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool isRegularFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool truncateFile(int fd) { return ::ftruncate(fd, 0) == 0; }
bool syncFile(int fd) { return ::fsync(fd) == 0; }
bool renameFile(const char* from, const char* to) { return ::rename(from, to) == 0; }
void removeFile(const char* path) { ::unlink(path); }

std::string errorText(int err) {
    char buf[256];
    // GNU strerror_r may return a static string instead of filling buf.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    return std::string(::strerror_r(err, buf, sizeof buf));
#else
    if (::strerror_r(err, buf, sizeof buf) != 0) return "error " + std::to_string(err);
    return std::string(buf);
#endif
}

bool lockExclusive(int fd) {
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool sameFile(int fd, const char* path) {
    struct stat a {}, b {};
    if (::fstat(fd, &a) != 0 || ::stat(path, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool stdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

namespace {

// The terminal settings in force before waitForKey changed them, so that an
// interruption during the wait can put them back.
termios savedTerminal {};
volatile std::sig_atomic_t terminalChanged = 0;

}  // namespace

void waitForKey() {
    if (::tcgetattr(STDIN_FILENO, &savedTerminal) == 0) {
        termios t = savedTerminal;
        t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        terminalChanged = 1;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
    }
    char c;
    while (::read(STDIN_FILENO, &c, 1) < 0 && errno == EINTR) {
    }
    if (terminalChanged) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
        terminalChanged = 0;
    }
}

namespace {

volatile std::sig_atomic_t scratchMarked[2] = {0, 0};
const char* volatile scratchPath[2] = {nullptr, nullptr};

void removeScratchAndExit(int sig) {
    if (terminalChanged) ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    for (int i = 0; i < 2; ++i) {
        if (scratchMarked[i] && scratchPath[i]) ::unlink(scratchPath[i]);
    }
    ::_exit(128 + sig);
}

}  // namespace

void markScratch(Scratch which, const char* path) {
    int i = static_cast<int>(which);
    scratchPath[i] = path;
    scratchMarked[i] = 1;
}

void unmarkScratch(Scratch which) { scratchMarked[static_cast<int>(which)] = 0; }

void installInterruptHandlers() {
    struct sigaction sa {};
    sa.sa_handler = removeScratchAndExit;
    sigemptyset(&sa.sa_mask);
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGTERM);
    sigaddset(&sa.sa_mask, SIGHUP);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);   // the terminal went away
}

}  // namespace skladba::platform
