#include "registers/register_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "registers/timbres.h"

namespace skladba::registers {
namespace {

// The temporary file being written, for the signal handler. Set only while
// a file exists under that name.
char gTemporary[4096];
volatile std::sig_atomic_t gHaveTemporary = 0;

extern "C" void onSignal(int sig) {
    if (gHaveTemporary != 0) ::unlink(gTemporary);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

std::string reason(const std::string& path, const std::string& why) {
    return "cannot write " + path + ": " + why;
}

// Refuses a destination that exists as anything but a regular file.
bool destinationIsReplaceable(const std::string& path, std::string& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        error = reason(path, std::strerror(errno));
        return false;
    }
    if (S_ISREG(st.st_mode)) return true;
    error = reason(path, S_ISLNK(st.st_mode)   ? "it is a symbolic link, not a regular file"
                         : S_ISDIR(st.st_mode) ? "it is a directory"
                                               : "not a regular file");
    return false;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash + 1);
}

std::string baseOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes all of `bytes`, resuming after interruptions and short writes.
int writeAll(int fd, const unsigned char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(fd, bytes, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (done == 0) return EIO;
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return 0;
}

}  // namespace

RegisterOutput::~RegisterOutput() { discard(); }

void RegisterOutput::discard() {
    if (fd_ >= 0) {
        gHaveTemporary = 0;
        ::close(fd_);
        ::unlink(temporary_.c_str());
        fd_ = -1;
    }
}

bool RegisterOutput::open(const std::string& path, std::string& error) {
    discard();
    path_ = path;
    if (path.empty() || path.back() == '/') {
        error = reason(path, "not a file name");
        return false;
    }
    if (!destinationIsReplaceable(path, error)) return false;
    // A hidden name in the same directory, so the rename cannot cross file
    // systems; O_EXCL together with O_NOFOLLOW never opens an existing name.
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = directoryOf(path) + "." + baseOf(path) + ".part-" + std::to_string(::getpid()) + "-" +
                     std::to_string(attempt);
        if (temporary_.size() >= sizeof gTemporary) {
            error = reason(path, std::strerror(ENAMETOOLONG));
            return false;
        }
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            std::memcpy(gTemporary, temporary_.c_str(), temporary_.size() + 1);
            gHaveTemporary = 1;
            return true;
        }
        if (errno != EEXIST) break;
    }
    error = reason(path, std::strerror(errno));
    return false;
}

bool RegisterOutput::commit(const std::vector<int16_t>& samples, std::string& error) {
    if (fd_ < 0) {
        error = reason(path_, "not opened");
        return false;
    }
    // Little-endian whatever the host's byte order.
    std::vector<unsigned char> bytes(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto word = static_cast<uint16_t>(samples[i]);
        bytes[2 * i] = static_cast<unsigned char>(word & 0xFFu);
        bytes[2 * i + 1] = static_cast<unsigned char>(word >> 8);
    }
    int failure = writeAll(fd_, bytes.data(), bytes.size());
    if (failure == 0 && ::fsync(fd_) != 0) failure = errno;
    // The destination may have been replaced by a link or device meanwhile.
    if (failure == 0 && !destinationIsReplaceable(path_, error)) {
        discard();
        return false;
    }
    if (failure == 0) {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) failure = errno;
        if (failure == 0 && ::rename(temporary_.c_str(), path_.c_str()) != 0) failure = errno;
        gHaveTemporary = 0;
        if (failure == 0) return true;
        ::unlink(temporary_.c_str());
    }
    discard();
    error = reason(path_, std::strerror(failure));
    return false;
}

void removeTemporaryOnSignals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, onSignal);
}

}  // namespace skladba::registers
