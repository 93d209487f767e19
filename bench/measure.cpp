#include "measure.h"

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common.h"
#include "engine/pozorovatel.h"
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
    recorded->push_back({n.start, static_cast<int32_t>(n.segment), n.sila, n.reg, kSegment, kSegment, false});
}

// Under a release a note is mixed once it is known how long it sounds,
// which is when the run reports it complete.
class ReleaseRecorder : public skladba::Pozorovatel {
public:
    void hotova(const skladba::Nota& n) override {
        recorded->push_back({n.start, n.segment, n.sila, n.reg, n.utlum, n.zni, n.smycka});
    }
};

}  // namespace

Measured measure(const std::string& text, int64_t expectedNotes, int runs, Launcher& launcher, const Setup& setup) {
    Measured m;
    writeFile("aktualni.txt", text.data(), text.size());
    if (setup.mixMemory >= 0) m.args = {"--mix-memory", std::to_string(setup.mixMemory)};
    if (setup.releaseMs > 0) {
        m.args.push_back("--release");
        m.args.push_back(std::to_string(setup.releaseMs));
    }

    // The recording run, in process and untimed; it also warms the page cache.
    m.notes.reserve(static_cast<size_t>(expectedNotes) + 16);
    recorded = &m.notes;
    skladba::Nastaveni nastaveni;
    ReleaseRecorder releaseRecorder;
    if (setup.releaseMs > 0) {
        nastaveni.dozvukms = setup.releaseMs;
        nastaveni.pozorovatel = &releaseRecorder;
    } else {
        nastaveni.sledovaninoty = recordNote;
    }
    if (setup.mixMemory >= 0) nastaveni.meze.pametmixu = static_cast<uint64_t>(setup.mixMemory) << 20;
    const int64_t io0 = selfIoBytes();
    const Clock::time_point tr = Clock::now();
    const skladba::Vysledek inProcess = skladba::vyrob(nastaveni);
    m.recordSeconds = secondsSince(tr);
    const int64_t io1 = selfIoBytes();
    if (io0 >= 0 && io1 >= 0) m.ioBytes = io1 - io0;
    if (inProcess.status != 0) die("the score did not render in process: %s", inProcess.zprava.c_str());
    m.enginePeak = inProcess.mix.maximum;
    for (const Note& n : m.notes) m.samples = std::max(m.samples, n.start + n.zni);

    for (int i = 0; i < runs; ++i) {
        const Run r = launcher.run(SKLADBA_PROGRAM, m.args, i == 0 ? setup.trace : std::string());
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
    if (m.runs[0].readBytes >= 0) {
        m.readBytes = medianOf(m.runs, &Run::readBytes);
        m.writtenBytes = medianOf(m.runs, &Run::writtenBytes);
        m.storageRead = medianOf(m.runs, &Run::storageRead);
        m.storageWritten = medianOf(m.runs, &Run::storageWritten);
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

void reportTrace(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) die("cannot read the trace %s", path.c_str());
    std::vector<double> t, rss;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        double a = 0, b = 0;
        if (line[0] != '#' && std::sscanf(line, "%lf %lf", &a, &b) == 2) {
            t.push_back(a);
            rss.push_back(b);
        }
    }
    std::fclose(f);
    std::printf("  RSS trace              %zu samples, every %d ms of the first run, in %s\n", t.size(), kTraceMs,
                path.c_str());
    if (t.empty()) return;
    std::printf("  RSS at each tenth      ");
    size_t i = 0;
    for (int k = 1; k <= 10; ++k) {
        const double at = t.back() * k / 10.0;
        while (i + 1 < t.size() && t[i + 1] <= at) ++i;
        std::printf("%s%.1f s %.1f", k == 1 ? "" : ", ", t[i], rss[i]);
    }
    double first = 0, second = 0;
    for (size_t j = 0; j < t.size(); ++j) {
        double& half = t[j] * 2 < t.back() ? first : second;
        half = std::max(half, rss[j]);
    }
    std::printf(" MiB\n  largest RSS            %.1f MiB in the first half of the run, %.1f MiB in the second\n",
                first, second);
}

}  // namespace bench
