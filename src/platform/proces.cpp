// The process: its program, its environment, the clock and sleep.
#include "platform/system.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace skladba::platform {

std::string cestaprogramu() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    return std::string(buf, static_cast<size_t>(n));
}

bool lzespustit(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISREG(st.st_mode) && ::access(path, X_OK) == 0;
}

void nahradproces(const std::string& path, const std::vector<std::string>& argumenty) {
    std::vector<char*> argv;
    for (const std::string& a : argumenty) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
}

long cisloprocesu() { return static_cast<long>(::getpid()); }

std::string promenna(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

double ted() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void spi(int milisekund) {
    timespec t{milisekund / 1000, (milisekund % 1000) * 1000000L};
    while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

}  // namespace skladba::platform
