#include "registers/soundfont.h"

#include <fcntl.h>
#include <fluidsynth.h>
#include <sys/stat.h>
#include <unistd.h>

#include "registers/pitch.h"
#include "registers/soundfont_check.h"
#include "registers/soundfont_samples.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace skladba::registers {
namespace {

constexpr int kVoices = 32;  // sounding at once
// The pitch wheel: its centre, its widest range in semitones, and how many
// cents its end moves a note per semitone of range (the standard pitch
// wheel modulator's 12700 cents at a range of 128).
constexpr int kWheelCentre = 8192;
constexpr int kWidestWheel = 72;
constexpr double kWheelCents = 12700.0 / 128.0;

// FluidSynth reports problems through its log; keep the first error for
// our own message instead of letting it print.
std::string gFluidError;

extern "C" void keepFluidError(int level, const char* message, void*) {
    if ((level == FLUID_PANIC || level == FLUID_ERR) && message != nullptr && gFluidError.empty()) {
        gFluidError = message;
    }
}

void quietFluidSynth() {
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
        fluid_set_log_function(level, keepFluidError, nullptr);
    }
}

// Standard error pointed at /dev/null for as long as it lives: the loaders
// the synthesiser library tries one after the other (and the libraries
// under them) print their own complaints about a file they cannot read,
// past FluidSynth's log.
class SilentStderr {
public:
    SilentStderr() {
        std::fflush(stderr);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        if (null >= 0 && saved_ >= 0) ::dup2(null, STDERR_FILENO);
        if (null >= 0) ::close(null);
    }
    ~SilentStderr() {
        if (saved_ < 0) return;
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    SilentStderr(const SilentStderr&) = delete;
    SilentStderr& operator=(const SilentStderr&) = delete;

private:
    int saved_ = -1;
};

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string presetLine(const Preset& p) {
    return std::to_string(p.bank) + ":" + std::to_string(p.program) + " " + p.name;
}

// A synthesizer at the register's rate with one SoundFont loaded.
class Synth {
public:
    ~Synth() {
        if (synth_ != nullptr) delete_fluid_synth(synth_);
        if (settings_ != nullptr) delete_fluid_settings(settings_);
    }

    bool load(const std::string& path, bool reverb, bool chorus, std::string& error) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            error = path + ": not a regular file";
            return false;
        }
        quietFluidSynth();
        std::string why;
        if (!checkSoundFont(path, why, &tables_)) {
            error = path + ": not a SoundFont skladba-registers can read: " + why;
            return false;
        }
        settings_ = new_fluid_settings();
        if (settings_ == nullptr) return cannotStart(path, error);
        fluid_settings_setnum(settings_, "synth.sample-rate", kSampleRate);
        fluid_settings_setint(settings_, "synth.reverb.active", reverb ? 1 : 0);
        fluid_settings_setint(settings_, "synth.chorus.active", chorus ? 1 : 0);
        fluid_settings_setint(settings_, "synth.cpu-cores", 1);
        // One note at a time is played: this bounds the work of a preset
        // that stacks many zones on one key (General MIDI presets stack 8
        // at most).
        fluid_settings_setint(settings_, "synth.polyphony", kVoices);
        synth_ = new_fluid_synth(settings_);
        if (synth_ == nullptr) return cannotStart(path, error);
        gFluidError.clear();
        {
            const SilentStderr quiet;
            font_ = fluid_synth_sfload(synth_, path.c_str(), 0);
        }
        if (font_ == FLUID_FAILED) return fail(path, error);
        return true;
    }

    std::vector<Preset> presets() const {
        std::vector<Preset> out;
        fluid_sfont_t* font = fluid_synth_get_sfont_by_id(synth_, font_);
        if (font == nullptr) return out;
        fluid_sfont_iteration_start(font);
        while (fluid_preset_t* p = fluid_sfont_iteration_next(font)) {
            const char* name = fluid_preset_get_name(p);
            out.push_back({fluid_preset_get_banknum(p), fluid_preset_get_num(p), name != nullptr ? name : ""});
        }
        std::sort(out.begin(), out.end(), [](const Preset& a, const Preset& b) {
            return a.bank != b.bank ? a.bank < b.bank : a.program < b.program;
        });
        return out;
    }

    // `length` samples of key `key`, `cents` off its equal-tempered pitch:
    // the note, held for `hold` samples, then released, mixed to mono.
    bool play(const Preset& preset, int key, double cents, int velocity, int hold, int length,
              std::vector<double>& out) {
        // The voices of the note before are ended (a reset alone lets them
        // ring on into this note), then reverb and chorus are cleared.
        fluid_synth_all_sounds_off(synth_, -1);
        float scratch[2][64];
        for (int block = 0; block < 16 && fluid_synth_get_active_voice_count(synth_) > 0; ++block) {
            fluid_synth_write_float(synth_, 64, scratch[0], 0, 1, scratch[1], 0, 1);
        }
        fluid_synth_system_reset(synth_);
        fluid_synth_set_interp_method(synth_, -1, FLUID_INTERP_HIGHEST);
        // The synthesizer chooses a note's zone by its tuned pitch, so the
        // tuning table takes only less than half a semitone; the pitch wheel
        // moves the note further without choosing another zone.
        int range = 0, wheel = kWheelCentre;
        double bend = 0.0;
        if (std::fabs(cents) >= 50.0) {
            range = std::min(kWidestWheel, static_cast<int>(std::ceil(std::fabs(cents) / 100.0)) + 1);
            const double end = kWheelCents * range;
            wheel = static_cast<int>(std::clamp(std::lround(kWheelCentre * (1.0 + cents / end)), 0L, 16383L));
            bend = end * (wheel - kWheelCentre) / kWheelCentre;
        }
        double pitches[128];
        for (int i = 0; i < 128; ++i) pitches[i] = 100.0 * i;
        pitches[key] += cents - bend;
        if (fluid_synth_activate_key_tuning(synth_, 0, 0, "skladba", pitches, 0) != FLUID_OK ||
            fluid_synth_activate_tuning(synth_, 0, 0, 0, 0) != FLUID_OK ||
            fluid_synth_program_select(synth_, 0, font_, preset.bank, preset.program) != FLUID_OK ||
            (range > 0 && (fluid_synth_pitch_wheel_sens(synth_, 0, range) != FLUID_OK ||
                           fluid_synth_pitch_bend(synth_, 0, wheel) != FLUID_OK)) ||
            fluid_synth_noteon(synth_, 0, key, velocity) != FLUID_OK) {
            return false;
        }
        // What the synthesizer started for the note, to hold the samples
        // its tables name against.
        last_.key = key;
        last_.tableCents = cents - bend;
        last_.bendCents = bend;
        last_.modes.clear();
        fluid_voice_t* voices[kVoices] = {};
        fluid_synth_get_voicelist(synth_, voices, kVoices, -1);
        for (fluid_voice_t* v : voices) {
            if (v != nullptr) last_.modes.push_back(static_cast<int>(fluid_voice_gen_get(v, GEN_SAMPLEMODE)) & 3);
        }
        std::vector<float> left(length), right(length);
        fluid_synth_write_float(synth_, hold, left.data(), 0, 1, right.data(), 0, 1);
        fluid_synth_noteoff(synth_, 0, key);
        fluid_synth_write_float(synth_, length - hold, left.data(), hold, 1, right.data(), hold, 1);
        out.resize(length);
        for (int n = 0; n < length; ++n) out[n] = 0.5 * (static_cast<double>(left[n]) + right[n]);
        return true;
    }

    // The loop the samples of the last note played bring, held `hold`
    // samples, of `preset` at `velocity`.
    SampleLoop lastLoop(const Preset& preset, int velocity, int hold) const {
        const std::vector<PlayedSample> samples =
            samplesPlayed(tables_, preset.bank, preset.program, last_.key, velocity);
        std::vector<int> modes;
        for (const PlayedSample& s : samples) modes.push_back(s.mode);
        std::vector<int> played = last_.modes;
        std::sort(modes.begin(), modes.end());
        std::sort(played.begin(), played.end());
        if (modes != played) {
            SampleLoop none;
            none.none = "the synthesizer played other samples than the SoundFont's tables name";
            return none;
        }
        return sampleLoop(samples, last_.key, last_.tableCents, last_.bendCents, hold);
    }

private:
    struct Note {
        int key = 0;
        double tableCents = 0.0, bendCents = 0.0;
        std::vector<int> modes;  // of the voices started, each sample's mode
    };

    static bool cannotStart(const std::string& path, std::string& error) {
        error = path + ": cannot start the synthesizer" + (gFluidError.empty() ? "" : ": " + gFluidError);
        return false;
    }

    bool fail(const std::string& path, std::string& error) {
        error = path + ": not a SoundFont skladba-registers can read" + (gFluidError.empty() ? "" : " (" + gFluidError + ")");
        return false;
    }

    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    int font_ = FLUID_FAILED;
    SoundFontTables tables_;
    Note last_;
};

// How far segment `index` of a rendering lies from its pitch, in cents, by
// the centre of its fundamental (or of its second harmonic where the
// fundamental is too weak to measure) from 0.1 s to 3.1 s. NaN when the
// sound has no clear pitch there, as a drum has not.
double centsOff(const std::vector<double>& x, int index) {
    const int from = kSampleRate / 10;
    const int length = 3 * kSampleRate;
    const double nominal = segmentFrequency(index);
    double pitch = refinePitch(x.data() + from, length, kSampleRate, nominal);
    if (pitch == 0.0 && 2.0 * nominal < 0.45 * kSampleRate) {
        pitch = refinePitch(x.data() + from, length, kSampleRate, 2.0 * nominal) / 2.0;
    }
    return pitch > 0.0 ? 1200.0 * std::log2(pitch / nominal) : std::nan("");
}

bool parseNumber(std::string_view text, int& value) {
    if (text.empty() || text.size() > 5) return false;
    value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

}  // namespace

bool listPresets(const std::string& soundfont, std::vector<Preset>& presets, std::string& error) {
    Synth synth;
    if (!synth.load(soundfont, false, false, error)) return false;
    presets = synth.presets();
    return true;
}

bool choosePreset(const std::vector<Preset>& presets, std::string_view preset, Preset& chosen, std::string& error) {
    const auto colon = preset.find(':');
    int bank = 0, program = 0;
    if (colon != std::string_view::npos && parseNumber(preset.substr(0, colon), bank) &&
        parseNumber(preset.substr(colon + 1), program)) {
        for (const Preset& p : presets) {
            if (p.bank == bank && p.program == program) {
                chosen = p;
                return true;
            }
        }
        error = "no preset " + std::string(preset) + " (bank " + std::to_string(bank) + ", program " +
                std::to_string(program) + "); --list shows the presets";
        return false;
    }
    const std::string needle = lower(preset);
    std::vector<const Preset*> matches;
    for (const Preset& p : presets) {
        const std::string name = lower(p.name);
        if (name == needle && !needle.empty()) {
            chosen = p;
            return true;
        }
        if (!needle.empty() && name.find(needle) != std::string::npos) matches.push_back(&p);
    }
    if (matches.size() == 1) {
        chosen = *matches[0];
        return true;
    }
    if (matches.empty()) {
        error = "no preset named '" + std::string(preset) + "'; --list shows the presets";
        return false;
    }
    error = "the preset name '" + std::string(preset) + "' is ambiguous; it matches:";
    for (const Preset* p : matches) error += "\n  " + presetLine(*p);
    return false;
}

bool renderSoundFont(const SoundFontOptions& options, Segments& segments, SoundFontReport& report,
                     std::string& error) {
    Synth synth;
    if (!synth.load(options.soundfont, options.reverb, options.chorus, error)) return false;
    Preset& chosen = report.preset;
    if (!choosePreset(synth.presets(), options.preset, chosen, error)) {
        error = options.soundfont + ": " + error;
        return false;
    }
    const int hold = std::clamp(static_cast<int>(options.holdSeconds * kSampleRate), 1, kSegmentLength);
    segments = silentRegister();
    report.borrowed.clear();
    report.silent.clear();
    const auto cannotPlay = [&](int index) {
        error = options.soundfont + ": cannot play key " + std::to_string(index + 36) + " of preset " +
                presetLine(chosen) + (gFluidError.empty() ? "" : ": " + gFluidError);
        return false;
    };
    // Plays segment `index` on the key of segment `from`: its own, or the
    // nearest key the preset sounds, moved to the segment's pitch (as a
    // SoundFont plays one recording over a range of keys). When asked, the
    // note is measured and played again retuned to the segment's pitch; a
    // key's own correction carries over to the segments played from it.
    std::vector<double> tuning(kSegments, 0.0);
    report.loops.assign(kSegments, SampleLoop{});
    const auto play = [&](int index, int from) {
        std::vector<double>& x = segments[index];
        const double cents = 100.0 * (index - from) + tuning[from];
        if (!synth.play(chosen, from + 36, cents, options.velocity, hold, kSegmentLength, x)) return cannotPlay(from);
        report.loops[index] = synth.lastLoop(chosen, options.velocity, hold);
        if (!options.tune) return true;
        const double off = centsOff(x, index);
        if (!(std::fabs(off) > 0.5)) return true;  // in tune, or no pitch to measure
        if (from != index && std::fabs(off) > 50.0) {
            // The preset does not let the pitch wheel move this key so far.
            std::fill(x.begin(), x.end(), 0.0);
            return true;
        }
        if (from == index) tuning[index] = -off;
        if (!synth.play(chosen, from + 36, cents - off, options.velocity, hold, kSegmentLength, x)) {
            return cannotPlay(from);
        }
        report.loops[index] = synth.lastLoop(chosen, options.velocity, hold);
        return true;
    };
    const auto silent = [&](int index) {
        return std::all_of(segments[index].begin(), segments[index].end(), [](double v) { return v == 0.0; });
    };
    std::vector<int> sounding;
    for (int k = 1; k < kSegments; ++k) {
        if (!play(k, k)) return false;
        if (silent(k)) {
            report.borrowed.push_back(k);
        } else {
            sounding.push_back(k);
        }
    }
    if (sounding.empty()) {
        error = options.soundfont + ": preset " + presetLine(chosen) + " makes no sound";
        return false;
    }
    // Each segment costs one note (two when retuned), however far its key
    // lies from the one it is played from.
    for (int k : report.borrowed) {
        int nearest = sounding.front();
        for (int j : sounding) {
            if (std::abs(j - k) <= std::abs(nearest - k)) nearest = j;  // a tie takes the higher key
        }
        if (!play(k, nearest)) return false;
        if (silent(k)) report.silent.push_back(k);
    }
    for (int k = 1; k < kSegments; ++k) fadeEdges(segments[k].data(), kSegmentLength, kFadeIn, kFadeOut);
    return true;
}

std::string fluidSynthVersion() { return std::string("libfluidsynth ") + fluid_version_str(); }

}  // namespace skladba::registers
