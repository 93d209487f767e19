#include "measure.h"

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common.h"
#include "output/vyroba.h"
#include "files.h"

#ifndef SKLADBA_PROGRAM
#error "SKLADBA_PROGRAM must name the skladba binary"
#endif

namespace bench {

std::string minutesText(double samples) {
    const double s = samples / kRate;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d min %04.1f s", static_cast<int>(s / 60), std::fmod(s, 60.0));
    return buf;
}

namespace {

std::vector<Note>* recorded = nullptr;

void recordNote(const skladba::SledovanaNota& n) {
    recorded->push_back({n.start, static_cast<int32_t>(n.segment), n.sila, n.reg});
}

}  // namespace

Measured measure(const std::string& text, int64_t expectedNotes, int runs, Launcher& launcher) {
    Measured m;
    writeFile("aktualni.txt", text.data(), text.size());

    // The recording run, in process and untimed; it also warms the page cache.
    m.notes.reserve(static_cast<size_t>(expectedNotes) + 16);
    recorded = &m.notes;
    skladba::Nastaveni nastaveni;
    nastaveni.sledovaninoty = recordNote;
    const int64_t io0 = selfIoBytes();
    const Clock::time_point tr = Clock::now();
    const skladba::Vysledek inProcess = skladba::vyrob(nastaveni);
    m.recordSeconds = secondsSince(tr);
    const int64_t io1 = selfIoBytes();
    if (io0 >= 0 && io1 >= 0) m.ioBytes = io1 - io0;
    if (inProcess.status != 0) die("the score did not render in process: %s", inProcess.zprava.c_str());
    m.enginePeak = inProcess.mix.maximum;
    for (const Note& n : m.notes) m.samples = std::max(m.samples, n.start + kSegment);

    for (int i = 0; i < runs; ++i) {
        const Run r = launcher.run(SKLADBA_PROGRAM);
        if (!(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0))
            die("the program failed on run %d: %s", i + 1, describeStatus(r.status).c_str());
        m.runs.push_back(r);
    }
    for (int i = 0; i < runs; ++i) m.bounds.push_back(runBound(m.notes, "bound.wav"));

    m.program = medianOf(m.runs, &Run::seconds);
    m.programMin = m.programMax = m.runs[0].seconds;
    for (const Run& r : m.runs) {
        m.programMin = std::min(m.programMin, r.seconds);
        m.programMax = std::max(m.programMax, r.seconds);
        m.rssKiB = std::max(m.rssKiB, r.maxrssKiB);
    }
    m.bound = medianOf(m.bounds, &BoundPhases::total);
    const BoundPhases& last = m.bounds.back();
    m.peakSame = !last.overflow && static_cast<double>(last.peak) == m.enginePeak;
    m.wavDifference = firstDifference("aktualni.wav", "bound.wav", m.wavProgram, m.wavBound);
    return m;
}

bool reportChecks(const Measured& m, const char* name) {
    bool ok = true;
    const BoundPhases& last = m.bounds.back();
    if (last.overflow) {
        std::printf("FAILURE (%s): the bound's mix overflowed 32 bits, yet the program rendered it\n", name);
        ok = false;
    } else if (!m.peakSame) {
        std::printf("FAILURE (%s): peak differs: engine %.0f, bound %u\n", name, m.enginePeak, last.peak);
        ok = false;
    }
    if (m.wavDifference >= 0) {
        std::printf("FAILURE (%s): the WAVs differ from byte %lld (program %lld bytes, bound %lld bytes)\n",
                    name, static_cast<long long>(m.wavDifference), static_cast<long long>(m.wavProgram),
                    static_cast<long long>(m.wavBound));
        ok = false;
    }
    return ok;
}


}  // namespace bench
