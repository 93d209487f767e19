// Runs the timed program from a small process forked early, and reports
// each run as wait4 saw it.
#pragma once

#include <string>
#include <sys/types.h>

namespace bench {

// One run of a program as wait4 reports it.
struct Run {
    int status = -1;       // wait status
    double seconds = 0;    // wall time from fork to reaping
    long maxrssKiB = 0;
    double user = 0, sys = 0;
    long minflt = 0, majflt = 0, nvcsw = 0, nivcsw = 0;
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
    // Runs program there once, with standard input from /dev/null.
    Run run(const std::string& program);
    void stop();

private:
    pid_t pid_ = -1;
    int req_ = -1;
    int resp_ = -1;
};

// "exit status N", "signal N".
std::string describeStatus(int st);

}  // namespace bench
