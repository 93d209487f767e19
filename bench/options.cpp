#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "common.h"

namespace bench {

namespace {

const char kUsage[] =
    "usage: skladba-bench [--minutes N] [--runs N] [--dir PATH] [--keep]\n"
    "                     [--no-jumps] [--score FILE] [--write-score FILE]\n"
    "                     [--mix-memory MIB] [--rss-trace FILE]\n"
    "\n"
    "  --minutes N        generate a piece of about N minutes (default: 4 sections\n"
    "                     of 4 voices x 250 notes, about 8.5 minutes)\n"
    "  --runs N           timed runs of the program and of the bound (default 5)\n"
    "  --dir PATH         make the temporary directory under PATH (default $TMPDIR\n"
    "                     or /tmp)\n"
    "  --keep             keep the temporary directory (score, registers, WAVs)\n"
    "  --no-jumps         leave out the other shapes (the scores that jump around\n"
    "                     in time, and the long notes under --release)\n"
    "  --score FILE       measure the score in FILE instead of the generated piece\n"
    "  --write-score FILE write the generated score to FILE and exit\n"
    "  --mix-memory MIB   run the program with --mix-memory MIB (0: the mix file\n"
    "                     from the start; default: the program's own budget)\n"
    "  --rss-trace FILE   write the program's resident memory and I/O every\n"
    "                     50 ms of its first run on the main score to FILE\n";

}  // namespace

Options parseOptions(int argc, char** argv) {
    Options o;
    const char* tmp = std::getenv("TMPDIR");
    o.parent = tmp && *tmp ? tmp : "/tmp";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) die("%s needs a value\n%s", a.c_str(), kUsage);
            return argv[++i];
        };
        if (a == "--minutes") {
            o.minutes = std::atof(value().c_str());
            if (!(o.minutes > 0.0 && o.minutes <= 400.0)) die("--minutes must be in (0, 400]");
        } else if (a == "--runs") {
            o.runs = std::atoi(value().c_str());
            if (o.runs < 1 || o.runs > 1000) die("--runs must be 1 to 1000");
        } else if (a == "--dir") {
            o.parent = value();
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "--score") {
            o.score = value();
        } else if (a == "--no-jumps") {
            o.jumps = false;
        } else if (a == "--write-score") {
            o.writeScore = value();
        } else if (a == "--mix-memory") {
            const std::string v = value();
            if (v.empty() || v.size() > 6 || v.find_first_not_of("0123456789") != std::string::npos)
                die("--mix-memory must be a whole number of MiB from 0 to 999999, not '%s'", v.c_str());
            o.mixMemory = std::atoi(v.c_str());
        } else if (a == "--rss-trace") {
            o.rssTrace = value();
            if (o.rssTrace.empty()) die("--rss-trace needs a file name");
            // The launcher runs in the temporary directory: a relative name
            // is made absolute here.
            if (o.rssTrace[0] != '/') {
                char cwd[4096];
                if (!::getcwd(cwd, sizeof cwd)) die("cannot read the current directory");
                o.rssTrace = std::string(cwd) + "/" + o.rssTrace;
            }
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else {
            die("unknown argument '%s'\n%s", a.c_str(), kUsage);
        }
    }
    return o;
}

}  // namespace bench
