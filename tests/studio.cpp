#include "studio.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include "wavdata.h"

namespace skladba::test {

namespace fs = std::filesystem;

std::string registr(int segments, int16_t (*fill)(int k, int i)) {
    std::string bytes(static_cast<size_t>(segments) * delkatonu * 2, '\0');
    size_t at = 0;
    for (int k = 0; k < segments; ++k) {
        for (int i = 0; i < delkatonu; ++i) {
            const auto v = static_cast<uint16_t>(fill(k, i));
            bytes[at++] = static_cast<char>(v & 0xFF);
            bytes[at++] = static_cast<char>(v >> 8);
        }
    }
    return bytes;
}

namespace {

int16_t klik(int k, int i) { return i == 0 ? static_cast<int16_t>(vyskaKliku(k)) : 0; }
int16_t klikBezPauzy(int k, int i) { return k > 0 ? klik(k, i) : 0; }

const std::string& sablonaHlavicky() {
    static const std::string header = [] {
        std::string h = "RIFF....WAVEfmt ";
        const unsigned char fmt[] = {16, 0, 0, 0, 1, 0, 1, 0, 0x22, 0x56, 0, 0,
                                     0x44, 0xAC, 0, 0, 2, 0, 16, 0};
        h.append(reinterpret_cast<const char*>(fmt), sizeof fmt);
        return h + "data";
    }();
    return header;
}

// The impulse registers are written once per test process and linked in;
// removed again when the process ends. Their bytes are not kept: a test
// process that stays small measures the memory of the programs it starts
// (a child's peak starts at its parent's size).
struct SdilenyRegistr {
    std::string path;
    SdilenyRegistr(const char* name, int16_t (*fill)(int k, int i)) {
        path = (fs::temp_directory_path() / ("skladba-" + std::string(name) + "-" + std::to_string(::getpid()))).string();
        std::ofstream(path, std::ios::binary) << registr(pocetsegmentu, fill);
    }
    ~SdilenyRegistr() {
        std::error_code ec;
        fs::remove(path, ec);
    }
};

}  // namespace

Studio::Studio() {
    std::string tmpl = (fs::temp_directory_path() / "skladba-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    fs::create_directory(dir_ + "/rejstriky");
    soubor("rejstriky/wavhlavicka.nes", sablonaHlavicky());
    static const SdilenyRegistr kliky("reg", klik);
    static const SdilenyRegistr tichepauzy("reg0", klikBezPauzy);
    fs::create_symlink(kliky.path, dir_ + "/rejstriky/rejstr1.nes");
    fs::create_symlink(tichepauzy.path, dir_ + "/rejstriky/rejstr0.nes");
    previous_ = fs::current_path().string();
    fs::current_path(dir_);
}

Studio::~Studio() {
    fs::current_path(previous_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

void Studio::soubor(const std::string& name, const std::string& bytes) const {
    // Replaces a linked register instead of writing into the shared file.
    std::error_code ec;
    fs::remove(dir_ + "/" + name, ec);
    std::ofstream(dir_ + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
}

bool Studio::existuje(const std::string& name) const { return fs::exists(dir_ + "/" + name); }

std::string Studio::obsah(const std::string& name) const {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

Vysledek Studio::hraj(const std::string& score, const Meze& meze) {
    soubor("aktualni.txt", score);
    Nastaveni n;
    n.meze = meze;
    return spust(n);
}

Vysledek Studio::spust(const Nastaveni& n) {
    Vysledek r = skladba::vyrob(n);
    maximum_ = r.mix.maximum;
    return r;
}

std::vector<int16_t> Studio::vzorky() const { return vzorkywav(obsah("aktualni.wav")); }

std::vector<Studio::Nota> Studio::noty() const {
    std::vector<Nota> notes;
    const std::vector<int16_t> samples = vzorky();
    for (size_t i = 0; i < samples.size(); ++i) {
        if (samples[i] == 0) continue;
        // Undo the output scaling; the click heights are 100 apart, so
        // rounding recovers the segment exactly.
        const double height = samples[i] * maximum_ / maxsignal;
        notes.push_back({static_cast<int64_t>(i), static_cast<int>(height / 100 + 0.5) - 1});
    }
    return notes;
}

int64_t Studio::kurzor(const std::string& score) {
    constexpr int sonda = 67;   // o4 g
    if (hraj("R0 S0 " + score + " s100 o4g").status != 0) return -1;
    for (const Nota& n : noty()) {
        if (n.segment == sonda) return n.start;
    }
    return -1;
}

int Studio::hlasitost(const std::string& setting) {
    if (hraj("c " + setting + " c").status != 0) return -1;
    const std::vector<int16_t> samples = vzorky();
    // The first click is the peak and comes out as maxsignal.
    return static_cast<int>(samples[11025] * 100.0 / samples[0] + 0.5);
}

std::vector<int> segmenty(const Studio& studio) {
    std::vector<int> out;
    for (const auto& n : studio.noty()) out.push_back(n.segment);
    return out;
}

std::vector<int64_t> starty(const Studio& studio) {
    std::vector<int64_t> out;
    for (const auto& n : studio.noty()) out.push_back(n.start);
    return out;
}

}  // namespace skladba::test
