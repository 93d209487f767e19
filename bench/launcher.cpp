#include "launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

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

// The figures of process pid that the trace and the report read.
struct Sample {
    long rssKiB = -1, hwmKiB = -1;
    int64_t rchar = -1, wchar = -1, readBytes = -1, writeBytes = -1;
};

int64_t field(const char* line, const char* name) {
    const size_t n = std::strlen(name);
    if (std::strncmp(line, name, n) != 0) return -1;
    return std::strtoll(line + n, nullptr, 10);
}

// /proc/PID/io: readable also once the program has ended, until it is
// reaped. /proc/PID/status has its memory only while it runs.
void sample(pid_t pid, Sample& s, bool memory) {
    char path[64];
    char line[256];
    std::snprintf(path, sizeof path, "/proc/%d/io", static_cast<int>(pid));
    if (FILE* f = std::fopen(path, "r")) {
        while (std::fgets(line, sizeof line, f)) {
            int64_t v;
            if ((v = field(line, "rchar:")) >= 0) s.rchar = v;
            if ((v = field(line, "wchar:")) >= 0) s.wchar = v;
            if ((v = field(line, "read_bytes:")) >= 0) s.readBytes = v;
            if ((v = field(line, "write_bytes:")) >= 0) s.writeBytes = v;
        }
        std::fclose(f);
    }
    if (!memory) return;
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    if (FILE* f = std::fopen(path, "r")) {
        while (std::fgets(line, sizeof line, f)) {
            int64_t v;
            if ((v = field(line, "VmRSS:")) >= 0) s.rssKiB = static_cast<long>(v);
            if ((v = field(line, "VmHWM:")) >= 0) s.hwmKiB = static_cast<long>(v);
        }
        std::fclose(f);
    }
}

double mib(int64_t bytes) { return static_cast<double>(bytes) / 1048576.0; }

bool readString(int fd, std::string& s) {
    uint32_t len = 0;
    if (!readAll(fd, &len, sizeof len) || len > (1u << 20)) return false;
    s.resize(len);
    return len == 0 || readAll(fd, &s[0], len);
}

bool writeString(int fd, const std::string& s) {
    const uint32_t len = static_cast<uint32_t>(s.size());
    return writeAll(fd, &len, sizeof len) && writeAll(fd, s.data(), len);
}

// Whether the child has ended (it is left to be reaped).
bool ended(pid_t pid) {
    siginfo_t si {};
    return ::waitid(P_PID, static_cast<id_t>(pid), &si, WEXITED | WNOHANG | WNOWAIT) == 0 && si.si_pid == pid;
}

// Samples the running child into trace until it ends: SIGCHLD, blocked in
// the launcher, ends each wait early, so the run's end is seen at once and
// its time stays honest.
int traceRun(pid_t pid, const std::string& trace, Clock::time_point t0, const sigset_t& chld) {
    FILE* f = std::fopen(trace.c_str(), "w");
    if (f) std::fprintf(f, "# seconds\trss_mib\tpeak_rss_mib\tread_mib\twritten_mib\n");
    int lines = 0;
    while (!ended(pid)) {
        Sample s;
        sample(pid, s, true);
        if (f && s.rssKiB >= 0) {
            std::fprintf(f, "%.3f\t%.1f\t%.1f\t%.1f\t%.1f\n", secondsSince(t0), s.rssKiB / 1024.0, s.hwmKiB / 1024.0,
                         mib(s.rchar), mib(s.wchar));
            ++lines;
        }
        struct timespec ts {0, kTraceMs * 1000000L};
        ::sigtimedwait(&chld, nullptr, &ts);
    }
    if (f) std::fclose(f);
    return lines;
}

// The launcher's loop: reads a program, its trace file and its arguments,
// runs it in dir, reports the run.
[[noreturn]] void serve(const std::string& dir, int in, int out) {
    if (::chdir(dir.c_str()) != 0) ::_exit(3);
    sigset_t chld, before;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &chld, &before);
    for (;;) {
        uint32_t count = 0;
        if (!readAll(in, &count, sizeof count) || count < 2 || count > 64) ::_exit(0);
        std::vector<std::string> words(count);
        for (std::string& w : words) {
            if (!readString(in, w)) ::_exit(0);
        }
        const std::string& path = words[0];
        const std::string trace = words[1];
        std::vector<char*> argv;
        argv.push_back(&words[0][0]);
        for (size_t i = 2; i < words.size(); ++i) argv.push_back(&words[i][0]);
        argv.push_back(nullptr);
        Run r;
        const Clock::time_point t0 = Clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::sigprocmask(SIG_SETMASK, &before, nullptr);
            const int null = ::open("/dev/null", O_RDONLY);
            if (null < 0 || ::dup2(null, 0) < 0) ::_exit(126);
            ::close(null);
            ::execv(path.c_str(), argv.data());
            ::_exit(127);
        }
        struct rusage ru {};
        if (pid > 0) {
            if (!trace.empty()) r.traceSamples = traceRun(pid, trace, t0, chld);
            siginfo_t si {};
            while (::waitid(P_PID, static_cast<id_t>(pid), &si, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
            }
            r.seconds = secondsSince(t0);
            Sample s;
            sample(pid, s, false);
            r.readBytes = s.rchar;
            r.writtenBytes = s.wchar;
            r.storageRead = s.readBytes;
            r.storageWritten = s.writeBytes;
            int st = 0;
            while (::wait4(pid, &st, 0, &ru) < 0 && errno == EINTR) {
            }
            r.status = st;
        } else {
            r.seconds = secondsSince(t0);
        }
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

Run Launcher::run(const std::string& program, const std::vector<std::string>& args, const std::string& trace) {
    const uint32_t count = static_cast<uint32_t>(args.size() + 2);
    bool sent = writeAll(req_, &count, sizeof count) && writeString(req_, program) && writeString(req_, trace);
    for (const std::string& a : args) sent = sent && writeString(req_, a);
    if (!sent) die("the launcher has gone");
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
