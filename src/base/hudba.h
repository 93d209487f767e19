// The music of a score as it was written: every note, rest and dot once, in
// written time (whole notes as exact fractions) beside the samples where the
// WAV plays it and how long it sounds, with its voice and what the dot rule
// did; the tempo map, the bar lines, the step backs, the metre and a pickup.
// The engine builds it once where each note is placed (engine/zaznam.h); the
// warnings and the summary of the check, the MIDI file, the sheet music, the
// piano roll and the editor all read it, so that none of them keeps a clock,
// a voice rule or a dot rule of its own.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/format.h"
#include "base/nota.h"

namespace skladba {

// An exact fraction of a whole note, always reduced, the denominator
// positive. Sums of the values a score writes (1/N for any N up to 2^31) stay
// exact for any piece of reasonable length; a sum whose reduced denominator
// would not fit falls back to the nearest fraction of 2^40ths and marks
// itself inexact, so that nothing overflows and nothing drifts by more than
// 2^-40 of a whole note a step.
struct Zlomek {
    int64_t c = 0;   // numerator
    int64_t j = 1;   // denominator, > 0
    bool presny = true;

    Zlomek() = default;
    Zlomek(int64_t citatel, int64_t jmenovatel = 1);

    double cislo() const { return static_cast<double>(c) / static_cast<double>(j); }
    friend Zlomek operator+(const Zlomek& a, const Zlomek& b);
    friend Zlomek operator-(const Zlomek& a, const Zlomek& b);
    friend Zlomek operator*(const Zlomek& a, int64_t n);
    friend bool operator==(const Zlomek& a, const Zlomek& b) { return a.c == b.c && a.j == b.j; }
    friend bool operator!=(const Zlomek& a, const Zlomek& b) { return !(a == b); }
    friend bool operator<(const Zlomek& a, const Zlomek& b);
    friend bool operator<=(const Zlomek& a, const Zlomek& b) { return !(b < a); }
    friend bool operator>(const Zlomek& a, const Zlomek& b) { return b < a; }
    friend bool operator>=(const Zlomek& a, const Zlomek& b) { return !(a < b); }
    // "3/4", "1", "5/8".
    std::string text() const;
    // The nearest tick of a grid of n ticks a whole note.
    int64_t tiku(int64_t n) const;
    // How many whole times l (> 0) goes into this, rounded down, and
    // whether it goes in exactly.
    int64_t kolikrat(const Zlomek& l, bool& presne) const;
};

// One note, rest or dot, in the order of the score.
struct Udalost {
    Zlomek zacatek;          // written start
    Zlomek delka;            // its own written value (a dot's: half the value before it)
    Zlomek tecky;            // what the dots right after it add (the engine's rule: the last note only)
    int32_t hlas = -1;       // the voice, from 0, in the order voices begin
    int32_t akord = -1;      // notes of one chord (one start, one voice, stacked with -) share a number
    int64_t pozice = 0;      // the bytes of the score [pozice, po): its letter and the dots it takes
    int64_t po = 0;
    int64_t hodnota = 0;     // the value's divisor as written (a dot's: twice that)
    char znak = 'p';         // as written: the letter ("p" for a rest or a dot)
    int posuvky = 0;         // sharps (+) or flats (-) before it
    int transpozice = 0;     // T in force
    uint8_t segment = 0;     // 0: a rest, a dot, the silent segment
    uint8_t sila = 100;      // volume in percent
    char reg = '1';
    bool pismeno = false;    // a note letter (not a rest or a dot)
    bool tecka = false;
    bool krivka = false;     // placed under a tempo curve
    bool prodlouzila = false; // a dot that lengthened the note before it (else it is a rest)
    bool oktava = false;     // its octave written with o (else the relative rule chose it)
    bool ticho = false;      // a letter on a segment its register holds as silence (where registers are loaded)
    int32_t cast = -1;       // the part a "part:" directive put it in (Hudba::casti), -1: none
    // Where the WAV plays it, in samples.
    int64_t kurzor = 0;      // where the time cursor put it
    int64_t start = 0;       // with the start jitter
    int64_t krok = 0;        // how far the cursor moved on
    int64_t trva = 0;        // its value and dots
    int64_t zni = 0;         // how long it sounds from its start (zneni)
    int64_t nahrano = 0;     // how long its register sounds it (Nota::zvuk; 0: not measured)

    Zlomek konec() const { return zacatek + delka + tecky; }
    // The tempo it was placed at, quarter notes a minute, from how far the
    // cursor moved for its value (under a curve, each note's own); 0 when
    // it moved nowhere.
    double ctvrtek() const {
        return krok > 0 && hodnota > 0 ? 4.0 * zaklad * 60 / (static_cast<double>(hodnota) * static_cast<double>(krok)) : 0;
    }
    bool hraje() const { return segment > 0 && !tecka; }
};

// A change of tempo at a written position: a "t" (metronom, quarter notes a
// minute), a tempo curve's start ("r", with the tempo it reaches where it
// ends), or its end.
struct ZmenaTempa {
    enum class Druh : uint8_t { metronom, krivka, konec };
    Zlomek kde;
    Druh druh = Druh::metronom;
    int metronom = 0;        // the number of the "t" in force
    double ritard = 0;       // the curve's percentage
    double ctvrtek = 0;      // quarter notes a minute from here (a curve: where it starts)
};

// A bar line "|" at a written position, in the voice of the note before it
// (right after a step back: of the note after it).
struct CaraTaktu {
    Zlomek kde;
    int32_t hlas = -1;       // before urcihlasy: the index of that note (-1: none)
    int64_t pozice = 0;
};

// A step back "-" as the engine took it: for the warnings of one that
// passes the start of the piece, crosses a change of tempo or lands inside
// a dotted note.
struct KrokZpet {
    size_t pred = 0;         // the event written right after it (an index into udalosti)
    Zlomek odkud;            // the cursor before it
    Zlomek kam;              // where its values lead, before the start when they pass it
    int64_t hodnota = 0;     // the value it steps back by (1/hodnota)
    bool jednou = false;     // one value ("-", not "-3" or "-.")
    bool nastart = false;    // the time cursor stood at the start after it
    int64_t pozice = 0;
    // The last t or r before it: where, and which (0: none yet, 1: t, 2: r).
    Zlomek tempo;
    uint8_t zmenatempa = 0;
};

// A metre from a "time:" directive, from a written position (a bar line, or
// the start) on: numerator over denominator, with the beat groups in units of
// 1/jmenovatel (written, or the metre's own: compound metres such as 6/8
// beat in dotted values, 3+3).
struct ZmenaMetra {
    Zlomek kde;
    int citatel = 4, jmenovatel = 4;
    std::vector<int> skupiny;
    int64_t pozice = 0;      // the directive's byte in the score
    bool vtaktu = true;      // it stands at the start or at a bar line

    Zlomek takt() const { return Zlomek{citatel, jmenovatel}; }
    // The beats of a bar in units of 1/jmenovatel: the groups written, 3s in
    // a compound metre (6/8, 9/8, 12/8, 6/4), else ones.
    std::vector<int> doby() const;
    bool slozene() const;    // compound: its beats are dotted
};

// A key signature from a "key:" directive on.
struct ZmenaToniny {
    Zlomek kde;
    int kvinty = 0;          // sharps (+) or flats (-)
    bool moll = false;
    int64_t pozice = 0;
};

// A part named by a "part:" directive: the notes written after it, until
// the next, belong to it.
struct Cast {
    std::string jmeno;
    int64_t pozice = 0;
    double pan = 0;          // a "pan:" after it: -1 left to 1 right
    bool mapan = false;
};

// A bar of the piece: where it starts, how long it is, and the metre it
// keeps (an index into Hudba::metra, -1: the inferred Hudba::metrum).
struct Takt {
    Zlomek zacatek, delka;
    int metrum = -1;
    Zlomek konec() const { return zacatek + delka; }
};

struct Hudba {
    std::vector<Udalost> udalosti;
    std::vector<ZmenaTempa> tempa;
    std::vector<CaraTaktu> cary;
    std::vector<KrokZpet> zpet;   // in the order of the score
    int32_t hlasu = 0;
    Metrumtaktu metrum;      // what the bar lines show; 4/4 when nothing
    Zlomek takt{1};          // the bar, in whole notes
    Zlomek predtakt;         // a first bar shorter than the rest (0: none)
    bool presna = true;      // every position exact
    int64_t vzorku = 0;      // the WAV's length

    // What the directives say (score/smernice.h), in the order of the score.
    std::string nazev, autor;           // title:, composer:
    std::vector<ZmenaMetra> metra;      // time:, in the order of time
    std::vector<ZmenaToniny> toniny;    // key:, in the order of time
    std::vector<Cast> casti;            // part:

    // The bars from the start to konec (at least one): a pickup first when
    // there is one, then bars of the metre in force, a time: directive
    // starting a new one where it stands.
    // At most nejvic of them.
    std::vector<Takt> takty(const Zlomek& konec, size_t nejvic = 4'000'000) const;
    // The metre of a bar: numerator, denominator and its beats.
    ZmenaMetra metrumtaktu(const Takt& t) const;
    // Where the written music ends: the latest end of any event.
    Zlomek konec() const;

    // Written positions with the sample where the cursor stood there, in
    // the order of time (the first note written at each), and the end.
    std::vector<std::pair<Zlomek, int64_t>> body;
    // The sample of a written position, through the cursor of the notes
    // around it (linear between them).
    double vzorek(const Zlomek& kde) const;
    // Bar lines and beats in seconds, for a picture of the piece: each bar
    // line's time, and each beat's that is not one.
    void mrizka(std::vector<double>& takty, std::vector<double>& doby) const;
    // The bar lines of each voice in the order of time, each place once (the
    // first written there), without one where the voice begins.
    std::vector<std::vector<const CaraTaktu*>> taktyhlasu() const;
};

// The time signature the bar lines show, voice by voice: bars all of one
// length (a bar that is a whole number of them counts as that many, for a
// bar line left out, often at the end of a line), the first bar line of
// every voice on the same beat of the bar, after a first bar that is a
// pickup or whole bars; as beats of a power of two from 1/4 to 1/64, at most
// 64 of them. 4/4 when they say nothing consistent, or there are none.
// Sets h.metrum, h.takt and h.predtakt; after urcihlasy.
void urcimetrum(Hudba& h);

// Voices by continuation. The events are cut into runs at every step back
// that lands before the note or rest just written (kroky: the index of the
// first event after each), and also at every written time where such a
// step back lands; where runs end at one time and others start there, the
// i-th run written to start continues the i-th written of those that ended
// (by pitch when their numbers differ); a run that starts where none ended
// takes a free voice nearest in pitch, or a new one.
void urcihlasy(Hudba& h, const std::vector<size_t>& kroky);

// A voice as the check's summary and the editor show it.
struct SouhrnHlasu {
    int64_t prvni = -1;                  // the byte of its first note or rest
    int64_t prvninota = -1;              // of its first note that sounds
    Zlomek zacatek, konec;               // written
    int64_t zacatekvzorku = 0, konecvzorku = 0;
    int64_t notu = 0;                    // notes that sound
    int nejnizsi = -1, nejvyssi = -1;    // their segments (-1: none)
    std::string rejstriky;               // the registers they play, in the order they come
};
std::vector<SouhrnHlasu> souhrnhlasu(const Hudba& h);

// The MIDI key of a segment (segment 0 is C2).
inline int klavesa(int segment) { return segment + 36; }

}  // namespace skladba
