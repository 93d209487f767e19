#include "scores.h"

#include <algorithm>
#include <cmath>

#include "common.h"

namespace bench {

namespace {

// A fixed pseudo-random sequence (splitmix64), so every machine generates the
// same score.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }

private:
    uint64_t s_;
};

// Tempi whose whole note is a multiple of 16 samples ((22050 * 60 / t) * 4),
// so that a step back counted in sixteenths lands exactly where a voice of
// mixed values started.
constexpr int kTempi[] = {126, 105, 90};
constexpr int kNotesPerVoice = 250;
constexpr int kDefaultSections = 4;
constexpr double kCurvePercent = 2.0;   // "r2": +2 % per whole note

int wholeNoteSamples(int tempo) { return (kRate * 60 / tempo) * 4; }

struct Voice {
    std::string text;
    int64_t sixteenths = 0;   // length
    int notes = 0;            // notes and rests it mixes, dots included
};

Voice generateVoice(Rng& rng, int noteCount) {
    static const int kVolumes[] = {100, 100, 100, 95, 90, 85};
    static const char kLetters[] = "cdefgah";
    Voice v;
    v.text = " s" + std::to_string(kVolumes[rng.below(6)]);
    int value = 0;   // the note value last written in this voice
    for (int i = 0; i < noteCount; ++i) {
        if (i % 16 == 0) v.text += "\n";
        if (i > 0 && rng.below(50) == 0) v.text += " s" + std::to_string(kVolumes[rng.below(6)]);
        const int r = rng.below(100);
        const int val = r < 25 ? 16 : r < 65 ? 8 : r < 90 ? 4 : 2;
        v.text += ' ';
        if (val != value) {
            v.text += std::to_string(val);
            value = val;
        }
        if (rng.below(12) == 0) {
            v.text += 'p';
        } else {
            const int oct = rng.below(20) == 0 ? 3 : rng.below(10) < 4 ? 2 : 1;
            v.text += 'o';
            v.text += static_cast<char>('0' + oct);
            if (rng.below(10) == 0) v.text += '>';
            v.text += kLetters[rng.below(7)];
        }
        int64_t len = 16 / val;
        ++v.notes;
        // A dot mixes a rest of half the value; not on sixteenths, whose half
        // would not be a whole number of samples at these tempi.
        if (val != 16 && rng.below(8) == 0) {
            v.text += '.';
            len += len / 2;
            ++v.notes;
        }
        v.sixteenths += len;
    }
    return v;
}

// Real samples that n nominal samples take under a curve of p percent per
// whole note of w samples, starting at the curve's base tempo.
double curveSamples(double n, double p, int w) {
    const double d = std::pow(1.0 + p / 100.0, 1.0 / w);
    return (std::pow(d, n) - 1.0) / (d - 1.0);
}

// Appends one section; returns its length in samples.
double appendSection(Score& sc, Rng& rng, int index, int notesPerVoice, char& reg) {
    static const int kJitter[] = {30, 20, 40, 60};
    static const char kRegisters[] = {'1', '2', '1', '3'};
    std::string& t = sc.text;
    const int tempo = kTempi[index % 3];
    const bool curve = index % 4 == 1;
    t += "\n\n( section " + std::to_string(index + 1) + " )\n";
    t += "t" + std::to_string(tempo) + " S" + std::to_string(kJitter[index % 4]) + " ";
    const char want = kRegisters[index % 4];
    if (want != reg) {
        t += "R";
        t += want;
        t += " ";
        reg = want;
        ++sc.registerChanges;
    }
    if (curve) {
        t += "r" + std::to_string(static_cast<int>(kCurvePercent)) + " ";
        ++sc.curveSections;
    }

    std::vector<Voice> voices;
    for (int v = 0; v < kVoices; ++v) voices.push_back(generateVoice(rng, notesPerVoice));
    // The longest voice goes last and is not stepped back over, so the
    // section ends where its longest voice ends.
    std::stable_sort(voices.begin(), voices.end(),
                     [](const Voice& a, const Voice& b) { return a.sixteenths < b.sixteenths; });
    for (size_t v = 0; v < voices.size(); ++v) {
        t += voices[v].text;
        if (v + 1 < voices.size()) t += "\n 16 -" + std::to_string(voices[v].sixteenths) + "\n";
        sc.notes += voices[v].notes;
    }
    if (curve) t += "\n r0 ";
    ++sc.sections;

    const int w = wholeNoteSamples(tempo);
    const double nominal = static_cast<double>(voices.back().sixteenths) * (w / 16);
    return curve ? curveSamples(nominal, kCurvePercent, w) : nominal;
}

}  // namespace

Score generateScore(double minutes) {
    Score sc;
    Rng rng(20240607);
    sc.text =
        "( skladba-bench: generated piece. Sections of four voices over the same\n"
        "  time, each voice stepped back over with \"-N\" sixteenths. )\n";
    char reg = '1';
    if (minutes <= 0.0) {
        for (int s = 0; s < kDefaultSections; ++s)
            sc.estimatedSamples += appendSection(sc, rng, s, kNotesPerVoice, reg);
    } else {
        const double target = minutes * 60.0 * kRate;
        // A full section is about this long; the last one is shortened to fit.
        for (int s = 0; sc.estimatedSamples < target; ++s) {
            Score trial = sc;
            Rng trialRng = rng;
            char trialReg = reg;
            const double full = appendSection(trial, trialRng, s, kNotesPerVoice, trialReg);
            if (sc.estimatedSamples + full <= target * 1.02) {
                sc = std::move(trial);
                rng = trialRng;
                reg = trialReg;
                sc.estimatedSamples += full;
                continue;
            }
            const double part = (target - sc.estimatedSamples) / full;
            const int n = std::max(4, static_cast<int>(std::lround(kNotesPerVoice * part)));
            sc.estimatedSamples += appendSection(sc, rng, s, n, reg);
        }
    }
    sc.text += "\n";
    return sc;
}

namespace {

// Three scores of 4,000 notes that send the time cursor back far more than the
// generated piece does, so that the mix keeps returning to time it has left:
// a whole voice then "-1000" back to write the next, chords written note by
// note, and a canon. All at t105, whose sixteenth is a whole number of
// samples (3150), so that every step back lands exactly.
std::string randomPitch(Rng& rng) {
    static const char kLetters[] = "cdefgah";
    std::string t = "o";
    t += static_cast<char>('1' + rng.below(3));
    if (rng.below(10) == 0) t += '>';
    t += kLetters[rng.below(7)];
    return t;
}

// Four voices of 1,000 eighths over the same five minutes, one after another:
// each is written whole, then "-1000" goes back to its start.
std::string voiceAfterVoice(Rng& rng) {
    std::string t = "t105 S40 8";
    for (int v = 0; v < 4; ++v) {
        t += "\nR" + std::to_string(v + 1) + " s" + std::to_string(100 - 5 * v);
        for (int i = 0; i < 1000; ++i) {
            t += i % 16 == 0 ? "\n " : " ";
            t += rng.below(12) == 0 ? std::string("p") : randomPitch(rng);
        }
        if (v < 3) t += "\n-1000";
    }
    return t + "\n";
}

// 1,000 chords of four notes, each chord written note by note as
// "c - e - g - c": a step back after every note but the chord's last.
std::string chordsNoteByNote(Rng& rng) {
    static const int kValues[] = {8, 4, 4, 2};
    std::string t = "t105 S60";
    for (int c = 0; c < 1000; ++c) {
        t += c % 8 == 0 ? "\n" : "  ";
        t += std::to_string(kValues[rng.below(4)]);
        for (int n = 0; n < 4; ++n) {
            t += n == 0 ? " " : " - ";
            t += randomPitch(rng);
        }
    }
    return t + "\n";
}

// A canon: one melody of 1,000 notes of mixed values in four voices, each
// entering two bars after the one before, each in its own register. Each
// voice is written whole; then the cursor goes back to where the next enters.
std::string canon(Rng& rng) {
    static const int kValues[] = {16, 8, 8, 4, 4, 2};
    std::string melody;
    int64_t sixteenths = 0;
    int value = 0;
    for (int i = 0; i < 1000; ++i) {
        melody += i % 16 == 0 ? "\n " : " ";
        const int val = kValues[rng.below(6)];
        if (val != value) {
            melody += std::to_string(val);
            value = val;
        }
        melody += rng.below(12) == 0 ? std::string("p") : randomPitch(rng);
        sixteenths += 16 / val;
    }
    std::string t = "t105 S40";
    for (int v = 0; v < 4; ++v) {
        t += "\nR" + std::to_string(v + 1) + melody;
        if (v < 3) t += "\n16 -" + std::to_string(sixteenths - 32);
    }
    return t + "\n";
}

// Four voices written phrase by phrase, as under a changing tempo: sixteen
// bars of each voice, then "1 -16" back to write the next over them, then the
// next phrase. 1,000 notes a voice of mixed values filling each phrase.
std::string phraseByPhrase(Rng& rng) {
    static const int kValues[] = {16, 8, 8, 4, 4, 2};
    std::string t = "t105 S40";
    for (int notes = 0; notes < 1000;) {
        for (int v = 0; v < 4; ++v) {
            t += "\nR" + std::to_string(v + 1);
            int left = 256;   // sixteenths in sixteen bars
            int count = 0;
            while (left > 0) {
                int val = kValues[rng.below(6)];
                while (16 / val > left) val *= 2;
                t += (count % 16 == 0 ? "\n " : " ") + std::to_string(val);
                t += rng.below(12) == 0 ? std::string("p") : randomPitch(rng);
                left -= 16 / val;
                ++count;
            }
            if (v == 0) notes += count;
            if (v < 3) t += "\n1 -16";
        }
    }
    return t + "\n";
}

// Four voices of long notes over the same ten minutes, each written whole
// and then stepped back over: notes of 8 to 30 seconds at t30 (a whole note
// of 8 s, a quarter of 44,100 samples), each a whole note lengthened by dots
// ("." adds half a whole note, "2 ." a quarter), now and then a rest. Played
// with a release, every note sounds its whole value, repeating its segment's
// loop from the fifth second on.
std::string longNotes(Rng& rng) {
    std::string t = "t30 S40";
    for (int v = 0; v < 4; ++v) {
        t += "\nR" + std::to_string(v + 1) + " s" + std::to_string(100 - 5 * v);
        int64_t quarters = 0;
        for (int i = 0; quarters < 300; ++i) {
            const int q = 4 + rng.below(12);   // 4 to 15 quarters: 8 to 30 s
            t += i % 4 == 0 ? "\n 1" : " 1";
            t += rng.below(10) == 0 ? std::string("p") : randomPitch(rng);
            t += std::string(static_cast<size_t>((q - 4) / 2), '.');
            if ((q - 4) % 2 != 0) t += " 2 .";
            quarters += q;
        }
        if (v < 3) t += "\n4 -" + std::to_string(quarters);
    }
    return t + "\n";
}

}  // namespace

std::vector<JumpyScore> jumpyScores() {
    Rng rng(20250101);
    std::vector<JumpyScore> scores;
    scores.push_back({"voice after voice", voiceAfterVoice(rng)});
    scores.push_back({"chords note by note", chordsNoteByNote(rng)});
    scores.push_back({"canon in four", canon(rng)});
    scores.push_back({"phrase by phrase", phraseByPhrase(rng)});
    scores.push_back({"long notes, release", longNotes(rng), 100, 1000});
    return scores;
}

}  // namespace bench
