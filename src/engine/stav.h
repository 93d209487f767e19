// The engine state: every variable through which the reader, the commands,
// the renderer and the WAV writer talk to each other. It is one process-wide
// set, as the run is one pass over one score; resetEngineState() makes a
// fresh one so that tests and the fuzz target can run many scores in turn.
#pragma once

#include <cstdint>

namespace skladba {

constexpr int zaklad = 22050;                  // samples per second
constexpr float maxsignal = 32752.0f;          // the mix peak becomes this output value
constexpr char konecsouboru = '\xFF';          // what the reader returns at the end of the score
constexpr int delkatonu = zaklad * 4;          // samples in one segment (four seconds)
constexpr int synchrotempo = zaklad * 2;       // scale of the start jitter
constexpr int pocetsegmentu = 69;              // segments in a register
// The mix file is addressed with signed 32-bit byte offsets in its format,
// so no sample may lie at or past 2^31 / 4.
constexpr int64_t nejdelsiskladba = 536870912;

struct Stav {
    int tempo = 120;             // whole-note length in samples once converted
    int puvodnitempo = 120;      // whole-note length set by the last "t"
    int oktava = 24;             // octave base of the next note, in semitones
    char minton = 'g';           // letter of the last note rendered
    int64_t hodnota = 4;         // note value divisor; 64-bit so a dot can double any value
    double rittempo = 1.0;       // current per-sample step of the tempo curve
    char reg = '1';              // current register character
    int synchropom = 50;         // jitter setting of the last "S"
    int sila = 100;              // volume in percent
    char rejstrjmeno[22] = "rejstriky/rejstr1.nes";
    int chyby = 0;               // repeated writes to the mix file
    int64_t momcas = 0;          // time cursor: start sample of the next note
    int zmenaoktavy = 0;         // 1 when the next note's octave was set explicitly
    int posuvky = 0;             // accidental of the next note, in semitones
    double ritard = 0.0;         // tempo curve percentage; 0 means constant tempo
    double delta = 0.0;          // per-sample ratio of the tempo curve
    int transpose = 0;           // transposition in semitones
    int synchro = 0;             // active jitter divisor; 0 or less means none
    int64_t neprekladej = 0;     // comment nesting depth
    char znak = 0;               // the current character
    double maximum = 0.0;        // largest absolute value any mix sum has held
    unsigned char hlavicka[40] = {};  // the WAV header template

    uint32_t nahoda = 1;         // state of the start-jitter generator
    int64_t pozicepovelu = 0;    // byte offset of the command being carried out
    int64_t konecmixu = 0;       // samples: end of the segment that ends last
    uint64_t krokykrivky = 0;    // tempo-curve steps computed so far
    int nesouhlasy = 0;          // mix sums that did not read back as written
};

extern Stav stav;

// The fixed block buffers and the wavetable: allocated once, never during a run.
extern int16_t rejstrpole[pocetsegmentu * delkatonu];
extern int32_t pole4[delkatonu];
extern int32_t testpole[delkatonu];
extern int16_t pole2[delkatonu];

// Limits a caller may tighten (the fuzz target does, to keep each input fast).
struct Meze {
    // Tempo-curve steps one run may compute. A curve costs one step per
    // nominal sample, and an accelerando can pack very many nominal samples
    // into a short piece; past this budget the score is refused instead of
    // keeping the machine busy for minutes.
    uint64_t krokykrivky = uint64_t{1} << 36;
    // Samples a piece may reach: the mix file's limit. A caller may lower it
    // so that the longest piece is quick to write and convert.
    int64_t skladba = nejdelsiskladba;
};
extern Meze meze;

void resetEngineState();

// Integer from a score number: truncated toward zero and saturated to the
// 32-bit range, so an enormous number means "as large as possible", not a
// wrapped negative one. Not-a-number reads as 0.
int naCele(double x);

}  // namespace skladba
