// skladba-bench: how fast and how lean the skladba program renders a large
// score, measured against an in-memory lower bound.
//
//  1. Generates a score: sections of four voices written one after another
//     over the same time with "-N" step backs, in mixed note values with
//     dots, rests and sharps, with start jitter, volume changes, register
//     changes and, in some sections, a tempo curve.
//  2. Renders it once in process (not timed) with the note hook set, which
//     records every note and rest exactly as it is mixed: start sample,
//     segment, volume, and the register loaded at that moment.
//  3. Times the skladba binary on it (median of --runs runs) and takes its
//     peak resident set size from wait4's rusage.
//  4. Times the lower bound: the recorded notes mixed into one int32 array in
//     memory with the same arithmetic, converted and written as a WAV file
//     the same way, and checks that this WAV equals the program's byte for
//     byte.
//
// Everything runs in a fresh temporary directory holding copies of the
// build's registers and header template.
//
// The parts: options.cpp (the command line), scores.cpp (the generated piece
// and the scores that jump), files.cpp, launcher.cpp (the timed runs),
// bound.cpp (the in-memory lower bound) and measure.cpp (a score measured
// and checked); this file prints the report.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bound.h"
#include "common.h"
#include "files.h"
#include "launcher.h"
#include "measure.h"
#include "options.h"
#include "scores.h"

#ifndef SKLADBA_WORKDIR
#error "SKLADBA_WORKDIR must name the build's working directory (with rejstriky/)"
#endif

using namespace bench;

int main(int argc, char** argv) {
    const Options opt = parseOptions(argc, argv);
    const std::string program = SKLADBA_PROGRAM;
    const std::string workdir = SKLADBA_WORKDIR;

    if (!opt.writeScore.empty()) {
        const Score sc = generateScore(opt.minutes);
        writeFile(opt.writeScore, sc.text.data(), sc.text.size());
        std::printf("wrote %s: %d sections, %lld notes, about %s\n", opt.writeScore.c_str(), sc.sections,
                    static_cast<long long>(sc.notes), minutesText(sc.estimatedSamples).c_str());
        return 0;
    }

    // The trace file is made now, so that a name that cannot be written
    // fails before anything is measured.
    if (!opt.rssTrace.empty()) writeFile(opt.rssTrace, "", 0);

    // The temporary directory, then at once the launcher, while this process
    // is still small.
    std::string pattern = opt.parent + "/skladba-bench.XXXXXX";
    std::vector<char> dirbuf(pattern.begin(), pattern.end());
    dirbuf.push_back('\0');
    if (!::mkdtemp(dirbuf.data())) die("cannot make a directory under %s: %s", opt.parent.c_str(),
                                       std::strerror(errno));
    const std::string dir = dirbuf.data();
    const long launcherRss = selfRssKiB();
    Launcher launcher;
    launcher.start(dir);

    if (::mkdir((dir + "/rejstriky").c_str(), 0755) != 0) die("cannot make %s/rejstriky", dir.c_str());
    copyFile(workdir + "/rejstriky/wavhlavicka.nes", dir + "/rejstriky/wavhlavicka.nes");
    for (int r = 1; r <= 4; ++r) {
        const std::string name = "/rejstriky/rejstr" + std::to_string(r) + ".nes";
        const int64_t size = copyFile(workdir + name, dir + name);
        if (size != int64_t{2} * kSegments * kSegment) {
            std::printf("note: %s holds %lld bytes, not a full register\n", name.c_str() + 1,
                        static_cast<long long>(size));
        }
        // The loops, for the long notes under --release.
        const std::string loops = "/rejstriky/rejstr" + std::to_string(r) + ".smycky";
        if (::access((workdir + loops).c_str(), R_OK) == 0) {
            copyFile(workdir + loops, dir + loops);
        } else if (opt.jumps) {
            std::printf("note: %s is missing: the long notes stop at their segment's end\n", loops.c_str() + 1);
        }
    }
    Score score;
    if (opt.score.empty()) {
        score = generateScore(opt.minutes);
    } else {
        const int64_t size = fileSize(opt.score);
        score.text.resize(static_cast<size_t>(size));
        if (readInto(opt.score, score.text.data(), score.text.size()) != size) die("cannot read %s", opt.score.c_str());
    }
    if (::chdir(dir.c_str()) != 0) die("cannot enter %s: %s", dir.c_str(), std::strerror(errno));

    const Run floor = launcher.run("/bin/true");
    Setup setup;
    setup.mixMemory = opt.mixMemory;
    setup.trace = opt.rssTrace;
    const Measured m = measure(score.text, score.notes, opt.runs, launcher, setup);

    std::printf("skladba-bench\n");
    std::printf("  program                %s", program.c_str());
    for (const std::string& a : m.args) std::printf(" %s", a.c_str());
    std::printf("%s\n", m.args.empty() ? " (mix memory: its default budget)" : "");
    std::printf("  directory              %s\n", dir.c_str());
    if (opt.score.empty()) {
        std::printf("  score                  %d sections x %d voices, %zu bytes, %d register changes,"
                    " %d with a tempo curve\n",
                    score.sections, kVoices, score.text.size(), score.registerChanges, score.curveSections);
        std::printf("  notes mixed            %zu (rests and dots included; %lld generated)\n", m.notes.size(),
                    static_cast<long long>(score.notes));
    } else {
        std::printf("  score                  %s, %zu bytes\n", opt.score.c_str(), score.text.size());
        std::printf("  notes mixed            %zu (rests and dots included)\n", m.notes.size());
    }
    std::printf("  samples of mix         %lld (%s at %d Hz; mix file %.1f MiB, WAV %.1f MiB)\n",
                static_cast<long long>(m.samples), minutesText(static_cast<double>(m.samples)).c_str(), kRate,
                m.samples * 4.0 / 1048576.0, (m.samples * 2.0 + kHeader) / 1048576.0);
    std::printf("  in-process run         %.3f s (recording, not timed below)\n", m.recordSeconds);
    std::printf("  kernel I/O             %.0f MiB read and written by that run, %.1f times the mix file\n",
                m.ioBytes / 1048576.0, m.ioBytes / (m.samples * 4.0));

    std::printf("\nprogram, %d runs\n", opt.runs);
    std::printf("  median time            %.3f s (min %.3f, max %.3f)\n", m.program, m.programMin, m.programMax);
    std::printf("  user / system          %.3f s / %.3f s (medians)\n", medianOf(m.runs, &Run::user),
                medianOf(m.runs, &Run::sys));
    std::printf("  page faults            %.0f minor, %.0f major; context switches %.0f voluntary,"
                " %.0f involuntary (medians)\n",
                medianOf(m.runs, &Run::minflt), medianOf(m.runs, &Run::majflt), medianOf(m.runs, &Run::nvcsw),
                medianOf(m.runs, &Run::nivcsw));
    std::printf("  notes per second       %.0f\n", static_cast<double>(m.notes.size()) / m.program);
    std::printf("  peak RSS               %.1f MiB (largest of the runs; the launcher's own floor,"
                " /bin/true, is %.1f MiB; bench was %.1f MiB when it forked)\n",
                m.rssKiB / 1024.0, floor.maxrssKiB / 1024.0, launcherRss / 1024.0);
    if (m.readBytes >= 0) {
        std::printf("  I/O                    %.1f MiB read, %.1f MiB written through system calls (%.1f times"
                    " the mix file); storage %.1f MiB read, %.1f MiB written (medians)\n",
                    m.readBytes / 1048576.0, m.writtenBytes / 1048576.0,
                    (m.readBytes + m.writtenBytes) / (m.samples * 4.0), m.storageRead / 1048576.0,
                    m.storageWritten / 1048576.0);
    }
    if (!opt.rssTrace.empty()) reportTrace(opt.rssTrace);

    std::printf("\nin-memory bound, %d runs\n", opt.runs);
    std::printf("  median time            %.3f s (add loop: %s)\n", m.bound, addKind());
    std::printf("  phases (medians)       registers %.3f, mix %.3f, convert %.3f, write %.3f,"
                " fsync %.3f s\n",
                medianOf(m.bounds, &BoundPhases::registers), medianOf(m.bounds, &BoundPhases::mix),
                medianOf(m.bounds, &BoundPhases::convert), medianOf(m.bounds, &BoundPhases::write),
                medianOf(m.bounds, &BoundPhases::sync));

    std::printf("\nratio program / bound    %.2f\n", m.program / m.bound);

    bool ok = reportChecks(m, "main score");
    if (m.peakSame) std::printf("peak                     %u, the same in the engine and the bound\n",
                                m.bounds.back().peak);
    if (m.wavDifference < 0) {
        std::printf("WAV check                identical: the bound's WAV equals the program's byte for"
                    " byte (%lld bytes)\n",
                    static_cast<long long>(m.wavProgram));
    }
    std::fflush(stdout);

    if (opt.jumps) {
        std::printf("\nother shapes, %d runs each (medians; read and written: the program's bytes through"
                    " system calls, and their sum as a multiple of the mix file)\n",
                    opt.runs);
        std::printf("  %-20s %6s  %-13s %9s %9s %6s %9s %10s %10s %7s  %s\n", "score", "notes", "length", "program",
                    "bound", "ratio", "peak RSS", "read", "written", "I/O", "WAV");
        for (const JumpyScore& j : jumpyScores()) {
            Setup js;
            js.mixMemory = opt.mixMemory;
            js.releaseMs = j.releaseMs;
            const Measured jm = measure(j.text, j.expectedNotes, opt.runs, launcher, js);
            std::printf("  %-20s %6zu  %-13s %7.3f s %7.3f s %6.2f %5.1f MiB %6.1f MiB %6.1f MiB %5.1f x  %s\n",
                        j.name, jm.notes.size(), minutesText(static_cast<double>(jm.samples)).c_str(), jm.program,
                        jm.bound, jm.program / jm.bound, jm.rssKiB / 1024.0, jm.readBytes / 1048576.0,
                        jm.writtenBytes / 1048576.0, (jm.readBytes + jm.writtenBytes) / (jm.samples * 4.0),
                        jm.wavDifference < 0 ? "identical" : "DIFFERENT");
            std::fflush(stdout);
            ok = reportChecks(jm, j.name) && ok;
        }
    }
    launcher.stop();

    if (::chdir("/") != 0) die("cannot leave %s", dir.c_str());
    if (opt.keep) {
        std::printf("kept %s\n", dir.c_str());
    } else {
        removeTree(dir);
    }
    return ok ? 0 : 1;
}
