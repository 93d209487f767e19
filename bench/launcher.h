// Runs the timed program from a small process forked early, and reports
// each run as wait4 and the kernel's I/O accounting saw it.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

// One run of a program as wait4 reports it, with the bytes it moved.
struct Run {
    int status = -1;       // wait status
    double seconds = 0;    // wall time from fork to its end
    long maxrssKiB = 0;
    double user = 0, sys = 0;
    long minflt = 0, majflt = 0, nvcsw = 0, nivcsw = 0;
    // Bytes read and written through system calls (rchar and wchar of
    // /proc/PID/io, taken once it has ended and before it is reaped), and
    // what of that reached or came from storage (read_bytes, write_bytes);
    // -1 where the kernel keeps no such accounting.
    int64_t readBytes = -1, writtenBytes = -1;
    int64_t storageRead = -1, storageWritten = -1;
    int traceSamples = 0;  // lines written to the trace, when one was asked for
};

// Starts the timed programs from a small process forked before the bench
// grows. A child's ru_maxrss also counts the memory image it was forked
// with, so a child forked straight from the bench (which holds the recorded
// notes and the bound's whole mix) would report the bench's size, not the
// program's. The launcher stays small, and reports each run over a pipe.
class Launcher {
public:
    // Forks the launcher, which runs programs in dir.
    void start(const std::string& dir);
    // Runs program there once with these arguments, standard input from
    // /dev/null. With a trace path, the launcher writes there, every
    // kTraceMs milliseconds while the program runs, its resident memory and
    // the bytes it has read and written so far.
    Run run(const std::string& program, const std::vector<std::string>& args = {},
            const std::string& trace = "");
    void stop();

private:
    pid_t pid_ = -1;
    int req_ = -1;
    int resp_ = -1;
};

constexpr int kTraceMs = 50;

// "exit status N", "signal N".
std::string describeStatus(int st);

}  // namespace bench
