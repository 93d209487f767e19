#include "registers/soundfont.h"

#include <fluidsynth.h>
#include <sys/stat.h>

#include "registers/pitch.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace skladba::registers {
namespace {

// FluidSynth reports problems through its log; keep the last error for our
// own message instead of letting it print.
std::string gFluidError;

extern "C" void keepFluidError(int level, const char* message, void*) {
    if ((level == FLUID_PANIC || level == FLUID_ERR) && message != nullptr) gFluidError = message;
}

void quietFluidSynth() {
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
        fluid_set_log_function(level, keepFluidError, nullptr);
    }
}

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
        if (!fluid_is_soundfont(path.c_str())) {
            error = path + ": not a SoundFont file";
            return false;
        }
        settings_ = new_fluid_settings();
        if (settings_ == nullptr) return fail(path, error);
        fluid_settings_setnum(settings_, "synth.sample-rate", kSampleRate);
        fluid_settings_setint(settings_, "synth.reverb.active", reverb ? 1 : 0);
        fluid_settings_setint(settings_, "synth.chorus.active", chorus ? 1 : 0);
        fluid_settings_setint(settings_, "synth.cpu-cores", 1);
        synth_ = new_fluid_synth(settings_);
        if (synth_ == nullptr) return fail(path, error);
        gFluidError.clear();
        font_ = fluid_synth_sfload(synth_, path.c_str(), 0);
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
        fluid_synth_system_reset(synth_);  // silences every voice and clears reverb and chorus
        fluid_synth_set_interp_method(synth_, -1, FLUID_INTERP_HIGHEST);
        double pitches[128];
        for (int i = 0; i < 128; ++i) pitches[i] = 100.0 * i;
        pitches[key] += cents;
        if (fluid_synth_activate_key_tuning(synth_, 0, 0, "skladba", pitches, 0) != FLUID_OK ||
            fluid_synth_activate_tuning(synth_, 0, 0, 0, 0) != FLUID_OK ||
            fluid_synth_program_select(synth_, 0, font_, preset.bank, preset.program) != FLUID_OK ||
            fluid_synth_noteon(synth_, 0, key, velocity) != FLUID_OK) {
            return false;
        }
        std::vector<float> left(length), right(length);
        fluid_synth_write_float(synth_, hold, left.data(), 0, 1, right.data(), 0, 1);
        fluid_synth_noteoff(synth_, 0, key);
        fluid_synth_write_float(synth_, length - hold, left.data(), hold, 1, right.data(), hold, 1);
        out.resize(length);
        for (int n = 0; n < length; ++n) out[n] = 0.5 * (static_cast<double>(left[n]) + right[n]);
        return true;
    }

private:
    bool fail(const std::string& path, std::string& error) {
        error = path + ": cannot load the SoundFont" + (gFluidError.empty() ? "" : ": " + gFluidError);
        return false;
    }

    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    int font_ = FLUID_FAILED;
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

// kSegmentLength samples of x read at n * step: played `step` times as
// fast, through a Hann-windowed sinc that also removes what would alias.
std::vector<double> speedUp(const std::vector<double>& x, double step) {
    constexpr double kPi = 3.14159265358979323846;
    const double cutoff = std::min(1.0, 1.0 / step);
    const int half = static_cast<int>(std::ceil(16.0 / cutoff));
    std::vector<double> out(kSegmentLength, 0.0);
    for (int n = 0; n < kSegmentLength; ++n) {
        const double t = n * step;
        const auto centre = static_cast<long>(std::floor(t));
        double sum = 0.0;
        for (long i = std::max(0L, centre - half + 1); i <= centre + half && i < static_cast<long>(x.size()); ++i) {
            const double u = t - static_cast<double>(i);
            const double sinc = u == 0.0 ? 1.0 : std::sin(kPi * cutoff * u) / (kPi * cutoff * u);
            sum += x[static_cast<std::size_t>(i)] * cutoff * sinc * (0.5 + 0.5 * std::cos(kPi * u / half));
        }
        out[n] = sum;
    }
    return out;
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

bool renderSoundFont(const SoundFontOptions& options, Segments& segments, Preset& chosen,
                     std::vector<int>& silentSegments, std::string& error) {
    Synth synth;
    if (!synth.load(options.soundfont, options.reverb, options.chorus, error)) return false;
    if (!choosePreset(synth.presets(), options.preset, chosen, error)) {
        error = options.soundfont + ": " + error;
        return false;
    }
    const int hold = std::clamp(static_cast<int>(options.holdSeconds * kSampleRate), 1, kSegmentLength);
    segments = silentRegister();
    silentSegments.clear();
    // Plays segment `index` on its own key, retuned to the measured pitch
    // of that key when asked.
    std::vector<double> tuning(kSegments, 0.0);
    const auto cannotPlay = [&](int index) {
        error = options.soundfont + ": cannot play key " + std::to_string(index + 36) + " of preset " +
                presetLine(chosen) + (gFluidError.empty() ? "" : ": " + gFluidError);
        return false;
    };
    const auto play = [&](int index) {
        std::vector<double>& x = segments[index];
        if (!synth.play(chosen, index + 36, 0.0, options.velocity, hold, kSegmentLength, x)) return cannotPlay(index);
        if (!options.tune) return true;
        const double off = centsOff(x, index);
        if (!(std::fabs(off) > 0.5)) return true;  // in tune, or no pitch to measure
        tuning[index] = -off;
        return synth.play(chosen, index + 36, tuning[index], options.velocity, hold, kSegmentLength, x) ||
               cannotPlay(index);
    };
    // A key the preset has no sound for is played from the nearest key it
    // has: rendered that much longer and read faster (or slower), so that
    // its pitch, hold and length come out as the segment's own.
    const auto borrow = [&](int index, int from) {
        const double step = std::pow(2.0, (index - from) / 12.0);
        const int length = static_cast<int>(std::ceil(kSegmentLength * step)) + 64;
        std::vector<double> x;
        if (!synth.play(chosen, from + 36, tuning[from], options.velocity,
                        std::min(length, static_cast<int>(hold * step)), length, x)) {
            return cannotPlay(from);
        }
        segments[index] = speedUp(x, step);
        return true;
    };
    const auto silent = [&](int index) {
        return std::all_of(segments[index].begin(), segments[index].end(), [](double v) { return v == 0.0; });
    };
    std::vector<int> sounding;
    for (int k = 1; k < kSegments; ++k) {
        if (!play(k)) return false;
        if (silent(k)) {
            silentSegments.push_back(k);
        } else {
            sounding.push_back(k);
        }
    }
    if (sounding.empty()) {
        error = options.soundfont + ": preset " + presetLine(chosen) + " makes no sound";
        return false;
    }
    for (int k : silentSegments) {
        int nearest = sounding.front();
        for (int j : sounding) {
            if (std::abs(j - k) < std::abs(nearest - k)) nearest = j;
        }
        if (!borrow(k, nearest)) return false;
    }
    for (int k = 1; k < kSegments; ++k) fadeEdges(segments[k].data(), kSegmentLength, kFadeIn, kFadeOut);
    return true;
}

std::string fluidSynthVersion() { return std::string("libfluidsynth ") + fluid_version_str(); }

}  // namespace skladba::registers
