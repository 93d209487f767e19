#include "launcher.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common.h"

namespace bench {

namespace {

bool writeAll(int fd, const void* p, size_t n) {
    const auto* b = static_cast<const char*>(p);
    while (n > 0) {
        const ssize_t w = ::write(fd, b, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        b += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool readAll(int fd, void* p, size_t n) {
    auto* b = static_cast<char*>(p);
    while (n > 0) {
        const ssize_t r = ::read(fd, b, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        b += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// The launcher's loop: reads a program's path, runs it in dir, reports the run.
[[noreturn]] void serve(const std::string& dir, int in, int out) {
    if (::chdir(dir.c_str()) != 0) ::_exit(3);
    char path[4096];
    for (;;) {
        uint32_t len = 0;
        if (!readAll(in, &len, sizeof len) || len >= sizeof path) ::_exit(0);
        if (!readAll(in, path, len)) ::_exit(0);
        path[len] = '\0';
        Run r;
        const Clock::time_point t0 = Clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_RDONLY);
            if (null < 0 || ::dup2(null, 0) < 0) ::_exit(126);
            ::close(null);
            ::execl(path, path, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        struct rusage ru {};
        if (pid > 0) {
            int st = 0;
            while (::wait4(pid, &st, 0, &ru) < 0 && errno == EINTR) {
            }
            r.status = st;
        }
        r.seconds = secondsSince(t0);
        r.maxrssKiB = ru.ru_maxrss;
        r.user = static_cast<double>(ru.ru_utime.tv_sec) + ru.ru_utime.tv_usec / 1e6;
        r.sys = static_cast<double>(ru.ru_stime.tv_sec) + ru.ru_stime.tv_usec / 1e6;
        r.minflt = ru.ru_minflt;
        r.majflt = ru.ru_majflt;
        r.nvcsw = ru.ru_nvcsw;
        r.nivcsw = ru.ru_nivcsw;
        if (!writeAll(out, &r, sizeof r)) ::_exit(0);
    }
}

}  // namespace

void Launcher::start(const std::string& dir) {
    int req[2], resp[2];
    if (::pipe(req) != 0 || ::pipe(resp) != 0) die("pipe: %s", std::strerror(errno));
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) die("fork: %s", std::strerror(errno));
    if (pid_ == 0) {
        ::close(req[1]);
        ::close(resp[0]);
        serve(dir, req[0], resp[1]);
    }
    ::close(req[0]);
    ::close(resp[1]);
    req_ = req[1];
    resp_ = resp[0];
}

Run Launcher::run(const std::string& program) {
    const uint32_t len = static_cast<uint32_t>(program.size());
    if (!writeAll(req_, &len, sizeof len) || !writeAll(req_, program.data(), len)) die("the launcher has gone");
    Run r;
    if (!readAll(resp_, &r, sizeof r)) die("the launcher has gone");
    return r;
}

void Launcher::stop() {
    if (pid_ <= 0) return;
    ::close(req_);
    ::close(resp_);
    int st = 0;
    ::waitpid(pid_, &st, 0);
    pid_ = -1;
}

std::string describeStatus(int st) {
    if (WIFEXITED(st)) return "exit status " + std::to_string(WEXITSTATUS(st));
    if (WIFSIGNALED(st)) return "signal " + std::to_string(WTERMSIG(st));
    return "wait status " + std::to_string(st);
}

}  // namespace bench
