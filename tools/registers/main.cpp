// skladba-registers: writes a register file, the pre-rendered note segments
// skladba mixes to play a score: synthesised, played from a SoundFont, or
// made from recordings of single notes.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/moznosti.h"
#include "platform/system.h"
#include "registers/level.h"
#include "registers/loop.h"
#include "registers/pitch.h"
#include "registers/register_file.h"
#include "registers/timbres.h"
#ifdef SKLADBA_HAVE_FLUIDSYNTH
#include "registers/soundfont.h"
#endif
#ifdef SKLADBA_HAVE_SAMPLES
#include "registers/sample.h"
#endif

namespace {

namespace reg = skladba::registers;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void printUsage(std::FILE* stream) {
    std::fprintf(stream,
                 "usage: skladba-registers TIMBRE FILE\n"
                 "       skladba-registers soundfont [OPTIONS] SF2 PRESET FILE\n"
                 "       skladba-registers soundfont SF2 --list\n"
                 "       skladba-registers sample [--zone AUDIO=PITCH]... [--loop START-END]\n"
                 "                                [--keep-balance] [--sustaining|--decaying]\n"
                 "                                AUDIO PITCH FILE\n\n"
                 "Writes a register to FILE.\n\n"
                 "TIMBRE synthesises one:\n"
                 "  organ   steady harmonics\n"
                 "  flute   near-sine with breath noise\n"
                 "  string  plucked string\n"
                 "  piano   struck, decaying, slightly inharmonic\n\n"
                 "soundfont plays segment k as MIDI key k+36 of a SoundFont preset. PRESET is\n"
                 "BANK:PROGRAM (0:0) or a part of a preset name (piano); --list lists them.\n"
                 "  --velocity N     strike the keys at velocity N, 1-127 (default 100)\n"
                 "  --hold SECONDS   release each key after SECONDS, below 4 (default: held\n"
                 "                   for the whole segment, so that its sound can be looped)\n"
                 "  --keep-balance   keep the instrument's own balance between low and high\n"
                 "                   notes (default: every segment as loud as the middle octave)\n"
                 "  --reverb         add the SoundFont synthesizer's reverb (default off)\n"
                 "  --chorus         add its chorus (default off)\n"
                 "  --no-tune        keep the SoundFont's own tuning; by default each note is\n"
                 "                   measured and retuned to its segment's equal-tempered pitch\n"
                 "  --find-loops     find every sustain loop in the sound (default: the loop\n"
                 "                   of the preset's own samples where they have one)\n\n"
                 "Every source also tells whether the register's sound holds (sustaining: an\n"
                 "organ, strings) or dies away (decaying: a piano, a guitar), by how fast its\n"
                 "middle octave falls from 1 to 3.9 s (decaying from %.0f dB a second). A note\n"
                 "held past its four seconds then holds its level, or goes on dying away as\n"
                 "its recording did. soundfont and sample take the kind by hand:\n"
                 "  --sustaining     hold every held note's level\n"
                 "  --decaying       let every held note go on dying away\n\n"
                 "sample plays a recording of one note (WAV, FLAC, OGG, AIFF...) at every\n"
                 "pitch. PITCH is a note name (a4, C#3, eb2; a4 is 440 Hz), a frequency in\n"
                 "Hz (440), or auto to estimate it. Each --zone adds a recording that serves\n"
                 "the segments nearest its own pitch.\n\n"
                 "Every register is leveled alike: the first second of its middle octave\n"
                 "(segments 24-35) together has an RMS of %.0f (%.1f dBFS), and no segment\n"
                 "peaks above %.0f. The soundfont and sample sources then level each segment\n"
                 "to the middle octave's loudness (ITU-R BS.1770 K-weighting, first second);\n"
                 "--keep-balance keeps the instrument's own balance instead.\n\n"
                 "Every source also writes FILE's sustain loops beside it (FILE with .nes\n"
                 "replaced by .smycky), which skladba --release uses to hold a note past its\n"
                 "four seconds. For sample, --loop START-END gives the loop in seconds of\n"
                 "the first recording (else a WAV's own smpl loop, else one is found).\n\n"
                 "Format: no header; signed 16-bit little-endian mono at %d Hz;\n"
                 "%d segments of %d samples (4 s), %zu bytes in all. Segment k\n"
                 "sounds 440 * 2^((k-33)/12) Hz; segment 0 is silence.\n\n"
                 "Sources in this build:\n"
                 "  organ flute string piano  built in\n",
                 reg::kDecayingDbPerSecond, reg::kLoudnessRms, 20.0 * std::log10(reg::kLoudnessRms / 32768.0), reg::kCeiling, reg::kSampleRate,
                 reg::kSegments, reg::kSegmentLength, reg::kFileBytes);
#ifdef SKLADBA_HAVE_FLUIDSYNTH
    std::fprintf(stream, "  soundfont                 %s\n", reg::fluidSynthVersion().c_str());
#else
    std::fprintf(stream, "  soundfont                 not built: libfluidsynth was not found\n");
#endif
#ifdef SKLADBA_HAVE_SAMPLES
    std::fprintf(stream, "  sample                    %s\n", reg::sampleLibraryVersions().c_str());
#else
    std::fprintf(stream, "  sample                    not built: libsndfile or libsoxr was not found\n");
#endif
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "skladba-registers: %s\n", message.c_str());
    std::fprintf(stderr, "Try 'skladba-registers --help'.\n");
    return kExitUsage;
}

int failure(const std::string& message) {
    std::fprintf(stderr, "skladba-registers: %s\n", message.c_str());
    return kExitFailed;
}

// The command line: words (the source and its operands) and the options
// given, by name, in order. Options are read as skladba reads its own.
struct Arguments {
    std::vector<std::string> words;
    std::vector<std::pair<std::string, std::string>> options;
    bool help = false;
};

// Every option of every source, one line per option; each source refuses
// the options it does not have.
const std::vector<skladba::Tvar> kOptions = {
    {"help", 'h', false},
    {"velocity", 0, true},
    {"hold", 0, true},
    {"reverb", 0, false},
    {"chorus", 0, false},
    {"no-tune", 0, false},
    {"list", 0, false},
    {"zone", 0, true},
    {"keep-balance", 0, false},
    {"loop", 0, true},
    {"find-loops", 0, false},
    {"sustaining", 0, false},
    {"decaying", 0, false},
};

bool split(int argc, char** argv, Arguments& args, std::string& error) {
    std::vector<skladba::Zadana> given;
    if (!skladba::roztrid(argc, argv, kOptions, args.words, given, error)) return false;
    for (const skladba::Zadana& option : given) {
        const std::string name = std::string("--") + kOptions[option.moznost].dlouha;
        if (name == "--help") {
            args.help = true;
        } else {
            args.options.emplace_back(name, option.hodnota);
        }
    }
    return true;
}

// Refuses options the chosen source does not have.
bool onlyOptions(const Arguments& args, std::initializer_list<std::string_view> allowed, const char* source,
                 std::string& error) {
    for (const auto& [name, value] : args.options) {
        bool known = false;
        for (std::string_view a : allowed) known = known || name == a;
        if (!known) {
            error = "option '" + name + "' does not apply to " + source;
            return false;
        }
    }
    return true;
}

[[maybe_unused]] bool parseNumber(const std::string& text, double low, double high, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && value >= low && value <= high;
}

// The register's kind of sound, as the tool found it or was told.
void printSound(const reg::LoopReport& report) {
    if (report.given) {
        std::printf("held notes: %s, as given\n", reg::soundName(report.sound));
    } else {
        std::printf("held notes: %s (the middle octave falls %.1f dB a second from 1 to 3.9 s)\n",
                    reg::soundName(report.sound), report.middleDecline);
    }
}

// The kind of sound given by hand (--sustaining, --decaying); false when
// both are given.
[[maybe_unused]] bool soundGiven(const Arguments& args, reg::Sound& sound) {
    sound = reg::Sound::guess;
    for (const auto& [name, value] : args.options) {
        const reg::Sound s = name == "--sustaining" ? reg::Sound::sustaining
                             : name == "--decaying" ? reg::Sound::decaying
                                                    : reg::Sound::guess;
        if (s == reg::Sound::guess) continue;
        if (sound != reg::Sound::guess && sound != s) return false;
        sound = s;
    }
    return true;
}

[[maybe_unused]] int writeLeveled(reg::RegisterOutput& output, const std::string& path, const reg::Segments& segments,
                                  bool even, std::string& error, const std::vector<skladba::Smycka>& loops = {},
                                  const reg::LoopChoice& choice = {},
                                  reg::LoopReport* loopReport = nullptr) {
    reg::LevelReport report;
    const std::vector<int16_t> samples = reg::levelRegister(segments, report, even);
    const std::string silence = reg::silenceReason(samples);
    if (!silence.empty()) return failure(silence);
    if (!output.commit(samples, error)) return failure(error);
    reg::LoopReport ownReport;
    reg::LoopReport& said = loopReport != nullptr ? *loopReport : ownReport;
    if (!reg::writeLoopFile(path, samples, choice, error, loops, &said)) return failure(error);
    printSound(said);
    if (report.lowered > 0) {
        std::printf("%d loud segments were lowered to peak at %.0f\n", report.lowered, reg::kCeiling);
    }
    return 0;
}

// "segment 5", "segments 1 to 23, 25 to 68".
[[maybe_unused]] std::string segmentList(const std::vector<int>& segments) {
    std::string text;
    for (std::size_t i = 0; i < segments.size();) {
        std::size_t j = i;
        while (j + 1 < segments.size() && segments[j + 1] == segments[j] + 1) ++j;
        text += (text.empty() ? "" : ", ") + std::to_string(segments[i]);
        if (j > i) text += (j == i + 1 ? ", " : " to ") + std::to_string(segments[j]);
        i = j + 1;
    }
    return (segments.size() == 1 ? "segment " : "segments ") + text;
}

int runTimbre(const Arguments& args) {
    std::string error;
    if (!onlyOptions(args, {}, "a synthesised timbre", error)) return usageError(error);
    if (args.words.size() != 2) return usageError(args.words.size() < 2 ? "missing FILE" : "too many arguments");
    reg::Timbre timbre{};
    if (!reg::parseTimbre(args.words[0], timbre)) return usageError("unknown timbre '" + args.words[0] + "'");
    reg::LoopReport loops;
    if (!reg::writeRegisterFile(timbre, args.words[1], error, &loops)) return failure(error);
    printSound(loops);
    return 0;
}

#ifdef SKLADBA_HAVE_FLUIDSYNTH
// Which segments took their samples' own loop and which a loop found in the
// sound, and why: one line for each reason.
void printLoopSources(const std::vector<reg::LoopSource>& sources) {
    std::vector<int> own, layered;
    std::vector<std::pair<std::string, std::vector<int>>> found;
    for (int k = 1; k < static_cast<int>(sources.size()); ++k) {
        const reg::LoopSource& s = sources[k];
        if (s.kind == reg::LoopSource::sample) {
            own.push_back(k);
        } else if (s.kind == reg::LoopSource::layered) {
            layered.push_back(k);
        } else if (s.kind != reg::LoopSource::none) {
            auto group = std::find_if(found.begin(), found.end(), [&](const auto& g) { return g.first == s.why; });
            if (group == found.end()) {
                found.emplace_back(s.why, std::vector<int>{});
                group = std::prev(found.end());
            }
            group->second.push_back(k);
        }
    }
    if (!own.empty()) std::printf("sustain loops from the samples' own loops: %s\n", segmentList(own).c_str());
    if (!layered.empty()) {
        std::printf("sustain loops from the layered samples' loops together: %s\n", segmentList(layered).c_str());
    }
    for (const auto& [why, segments] : found) {
        std::printf("sustain loops found in the sound: %s%s\n", segmentList(segments).c_str(),
                    why.empty() ? "" : (" (" + why + ")").c_str());
    }
}

int runSoundFont(const Arguments& args) {
    std::string error;
    if (!onlyOptions(args, {"--velocity", "--hold", "--reverb", "--chorus", "--no-tune", "--list", "--keep-balance",
                            "--find-loops", "--sustaining", "--decaying"},
                     "soundfont", error)) {
        return usageError(error);
    }
    reg::Sound sound = reg::Sound::guess;
    if (!soundGiven(args, sound)) return usageError("--sustaining and --decaying exclude each other");
    bool list = false;
    bool even = true;
    bool sampleLoops = true;
    reg::SoundFontOptions options;
    for (const auto& [name, value] : args.options) {
        double number = 0.0;
        if (name == "--keep-balance") {
            even = false;
        } else if (name == "--find-loops") {
            sampleLoops = false;
        } else if (name == "--list") {
            list = true;
        } else if (name == "--reverb") {
            options.reverb = true;
        } else if (name == "--chorus") {
            options.chorus = true;
        } else if (name == "--no-tune") {
            options.tune = false;
        } else if (name == "--velocity") {
            if (!parseNumber(value, 1, 127, number) || number != static_cast<int>(number)) {
                return usageError("--velocity needs a whole number from 1 to 127, not '" + value + "'");
            }
            options.velocity = static_cast<int>(number);
        } else if (name == "--hold") {
            if (!parseNumber(value, 0.001, 4.0, number)) {
                return usageError("--hold needs a number of seconds above 0 and up to 4, not '" + value + "'");
            }
            options.holdSeconds = number;
        }
    }
    if (list) {
        if (args.words.size() != 2 || args.options.size() != 1) return usageError("--list takes only SF2");
        std::vector<reg::Preset> presets;
        if (!reg::listPresets(args.words[1], presets, error)) return failure(error);
        for (const reg::Preset& p : presets) std::printf("%3d:%-3d %s\n", p.bank, p.program, p.name.c_str());
        return 0;
    }
    if (args.words.size() != 4) {
        return usageError(args.words.size() < 4 ? "soundfont needs SF2, PRESET and FILE" : "too many arguments");
    }
    options.soundfont = args.words[1];
    options.preset = args.words[2];
    reg::RegisterOutput output;
    if (!output.open(args.words[3], error)) return failure(error);
    reg::Segments segments;
    reg::SoundFontReport report;
    if (!reg::renderSoundFont(options, segments, report, error)) return failure(error);
    if (!report.borrowed.empty()) {
        const reg::Preset& p = report.preset;
        std::printf("%s: preset %d:%d %s has no sound for %s; they are played from the nearest key it has, retuned\n",
                    options.soundfont.c_str(), p.bank, p.program, p.name.c_str(), segmentList(report.borrowed).c_str());
    }
    if (!report.silent.empty()) {
        std::printf("%s: %s stay silent all the same\n", options.soundfont.c_str(), segmentList(report.silent).c_str());
    }
    reg::LoopChoice choice;
    if (sampleLoops) {
        choice.samples = report.loops;
    } else {
        choice.samples.assign(reg::kSegments, reg::SampleLoop{});
        for (reg::SampleLoop& l : choice.samples) l.none = "--find-loops";
    }
    choice.sound = sound;
    choice.evenHeld = even;
    reg::LoopReport loops;
    const int status = writeLeveled(output, args.words[3], segments, even, error, {}, choice, &loops);
    if (status == 0) printLoopSources(loops.sources);
    return status;
}
#endif

#ifdef SKLADBA_HAVE_SAMPLES
int runSample(const Arguments& args) {
    std::string error;
    if (!onlyOptions(args, {"--zone", "--keep-balance", "--loop", "--sustaining", "--decaying"}, "sample", error)) {
        return usageError(error);
    }
    reg::LoopChoice choice;
    if (!soundGiven(args, choice.sound)) return usageError("--sustaining and --decaying exclude each other");
    if (args.words.size() != 4) {
        return usageError(args.words.size() < 4 ? "sample needs AUDIO, PITCH and FILE" : "too many arguments");
    }
    std::vector<reg::Zone> zones{{args.words[1], args.words[2]}};
    bool even = true;
    double loopFrom = 0.0, loopTo = 0.0;
    for (const auto& [name, value] : args.options) {
        if (name == "--keep-balance") {
            even = false;
            continue;
        }
        if (name == "--sustaining" || name == "--decaying") continue;
        if (name == "--loop") {
            const auto dash = value.find('-');
            if (dash == std::string::npos || !parseNumber(value.substr(0, dash), 0.0, reg::kLongestRecording, loopFrom) ||
                !parseNumber(value.substr(dash + 1), 0.0, reg::kLongestRecording, loopTo) || loopTo <= loopFrom) {
                return usageError("--loop needs START-END in seconds of the first recording (0.5-1.25), not '" + value + "'");
            }
            continue;
        }
        const auto equals = value.rfind('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == value.size()) {
            return usageError("--zone needs AUDIO=PITCH, not '" + value + "'");
        }
        zones.push_back({value.substr(0, equals), value.substr(equals + 1)});
    }
    reg::RegisterOutput output;
    if (!output.open(args.words[3], error)) return failure(error);
    reg::Segments segments;
    std::vector<reg::ZoneReport> reports;
    if (!reg::renderSamples(zones, segments, reports, error)) return failure(error);
    for (std::size_t z = 0; z < zones.size(); ++z) {
        const reg::ZoneReport& r = reports[z];
        if (r.estimated) {
            std::printf("%s: fundamental %.2f Hz (%s)\n", zones[z].audio.c_str(), r.frequency,
                        reg::describePitch(r.frequency).c_str());
        }
        if (zones.size() > 1 && r.last < r.first) {
            std::printf("%s: serves no segment; other recordings are nearer every pitch\n", zones[z].audio.c_str());
        }
    }
    // A loop given by hand (--loop), or the recording's own (a WAV's smpl
    // chunk), is moved to each segment's speed; the rest are found.
    std::vector<skladba::Smycka> loops(reg::kSegments);
    reg::ZoneReport& first = reports[0];
    if (loopTo <= loopFrom && first.loopTo > first.loopFrom) loopFrom = first.loopFrom, loopTo = first.loopTo;
    if (loopTo > loopFrom) {
        for (int k = first.first; k <= first.last; ++k) loops[k] = reg::loopAtSpeed(first, k, loopFrom, loopTo);
    }
    choice.evenHeld = even;
    return writeLeveled(output, args.words[3], segments, even, error, loops, choice);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    std::string error;
    if (!split(argc, argv, args, error)) return usageError(error);
    if (args.help) {
        printUsage(stdout);
        return 0;
    }
    if (args.words.empty()) return usageError("missing TIMBRE and FILE");
    // An interruption removes the register file half written.
    skladba::platform::nastavpreruseni();
    const std::string& source = args.words[0];
    if (source == "soundfont") {
#ifdef SKLADBA_HAVE_FLUIDSYNTH
        return runSoundFont(args);
#else
        return failure("this build has no soundfont source: libfluidsynth was not found when it was built");
#endif
    }
    if (source == "sample") {
#ifdef SKLADBA_HAVE_SAMPLES
        return runSample(args);
#else
        return failure("this build has no sample source: libsndfile or libsoxr was not found when it was built");
#endif
    }
    return runTimbre(args);
}
