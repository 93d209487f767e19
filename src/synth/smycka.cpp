#include "synth/smycka.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace skladba {

std::string cestasmycek(const std::string& rejstrik) {
    const std::string nes = priponarejstriku;
    if (rejstrik.size() > nes.size() && rejstrik.compare(rejstrik.size() - nes.size(), nes.size(), nes) == 0) {
        return rejstrik.substr(0, rejstrik.size() - nes.size()) + priponasmycek;
    }
    return rejstrik + priponasmycek;
}

uint64_t kontrolnisoucet(const void* bytes, size_t size, uint64_t h) {
    const auto* b = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < size; ++i) {
        h ^= b[i];
        h *= 1099511628211ull;
    }
    return h;
}

namespace {

// The words of a line, split at spaces and tabs.
std::vector<std::string> slova(const std::string& line) {
    std::vector<std::string> o;
    std::istringstream w(line);
    for (std::string slovo; w >> slovo;) o.push_back(slovo);
    return o;
}

// A whole number written in digits only (no sign, point or anything after
// it), of at most nine digits.
bool cele(const std::string& slovo, long& v) {
    if (slovo.empty() || slovo.size() > 9 || slovo.find_first_not_of("0123456789") != std::string::npos) return false;
    v = std::stol(slovo);
    return true;
}

// A decimal number: digits with at most one point among them (and with
// `znamenko`, a leading minus), at most nine characters, from -nejvic to
// nejvic.
bool desetinne(std::string slovo, double& v, double nejvic, bool znamenko = false) {
    const bool zaporne = znamenko && !slovo.empty() && slovo.front() == '-';
    if (zaporne) slovo.erase(0, 1);
    if (slovo.empty() || slovo.size() > 9 || slovo.find_first_not_of("0123456789.") != std::string::npos ||
        slovo.find('.') != slovo.rfind('.') || slovo.front() == '.' || slovo.back() == '.') {
        return false;
    }
    v = std::strtod(slovo.c_str(), nullptr);
    if (zaporne) v = -v;
    return std::fabs(v) <= nejvic;
}

}  // namespace

bool prectismycky(const std::string& text, Smycky& s, std::string& chyba) {
    std::istringstream in(text);
    std::string line;
    int cislo = 0;
    const auto spatne = [&](const std::string& co) {
        chyba = "line " + std::to_string(cislo) + ": " + co;
        return false;
    };
    s = Smycky{};
    long verze = 0;
    while (std::getline(in, line)) {
        ++cislo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::vector<std::string> w = slova(line);
        if (cislo == 1) {
            if (w.size() != 2 || w[0] != "skladba-smycky" || !cele(w[1], verze)) {
                return spatne("not a loop file (no 'skladba-smycky " + std::to_string(verzesmycek) + "')");
            }
            if (verze < 1 || verze > verzesmycek) {
                return spatne("loop file version " + w[1] + "; this skladba reads versions 1 to " +
                              std::to_string(verzesmycek));
            }
            continue;
        }
        if (cislo == 2) {
            // The register's name may have spaces in it: it is all that
            // stands between the word and the last two numbers.
            long velikost = 0;
            const size_t n = w.size();
            if (n < 4 || w[0] != "rejstrik" || !cele(w[n - 2], velikost) || w[n - 1].size() != 16 ||
                w[n - 1].find_first_not_of("0123456789abcdef") != std::string::npos) {
                return spatne("expected 'rejstrik FILE SIZE CHECKSUM'");
            }
            s.rejstrik = w[1];
            for (size_t i = 2; i + 2 < n; ++i) s.rejstrik += " " + w[i];
            s.velikost = velikost;
            s.soucet = std::stoull(w[n - 1], nullptr, 16);
            continue;
        }
        if (w.empty()) continue;
        long k = -1;
        if (!cele(w[0], k) || k >= pocetsegmentu) return spatne("expected a segment index from 0 to 68");
        if (w.size() == 2 && w[1] == "-") continue;
        long od = 0, po = 0, x = 0;
        double pokles = 0.0, uroven = 0.0;
        const bool dva = verze >= 2;
        if (w.size() != (dva ? 6u : 4u) || !cele(w[1], od) || !cele(w[2], po) || !cele(w[3], x) || po <= od ||
            po > delkatonu || x > od || x > po - od ||
            (dva && (!desetinne(w[4], pokles, 1000.0) || !desetinne(w[5], uroven, 20.0, true)))) {
            return spatne(std::string("expected '-' or START END CROSSFADE") + (dva ? " DECAY LEVEL" : "") +
                          " within the segment (0 <= CROSSFADE <= START < END <= " + std::to_string(delkatonu) +
                          ", CROSSFADE <= END - START" +
                          (dva ? ", DECAY from 0 to 1000 dB a second, LEVEL from -20 to 20 dB" : "") + ")");
        }
        s.smycka[k] = {static_cast<int32_t>(od), static_cast<int32_t>(po), static_cast<int32_t>(x), pokles, uroven};
    }
    if (cislo < 2) {
        ++cislo;
        return spatne("the file ends before its header");
    }
    return true;
}

std::string zapissmycky(const Smycky& s) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(s.soucet));
    std::string o = "skladba-smycky " + std::to_string(verzesmycek) + "\nrejstrik " + s.rejstrik + " " +
                    std::to_string(s.velikost) + " " + hex + "\n";
    for (int k = 0; k < pocetsegmentu; ++k) {
        const Smycka& m = s.smycka[k];
        if (!m.je()) {
            o += std::to_string(k) + " -\n";
            continue;
        }
        char cisla[64];
        std::snprintf(cisla, sizeof cisla, " %.6g %.6g", m.pokles, m.uroven);
        o += std::to_string(k) + " " + std::to_string(m.od) + " " + std::to_string(m.po) + " " +
             std::to_string(m.prolnuti) + cisla + "\n";
    }
    return o;
}

void vzorkysmycky(const int16_t* segment, const Smycka& s, int64_t od, int pocet, int64_t utlum, int64_t zni,
                  int16_t* out) {
    const int64_t delka = s.po - s.od;
    const int64_t x = s.prolnuti;
    const double dozvuk = static_cast<double>(zni - utlum);
    // The gain of one repeat of the loop over the one before.
    const double krok = s.pokles > 0.0 ? std::pow(10.0, -s.pokles * static_cast<double>(delka) / (20.0 * zaklad)) : 1.0;
    // The held note's level, and the gain of the repeat being played.
    const double hlasitost = s.uroven != 0.0 ? std::pow(10.0, s.uroven / 20.0) : 1.0;
    int64_t opakovani = 0;
    double zisk = 1.0;
    for (int n = 0; n < pocet; ++n) {
        const int64_t p = od + n;
        double v;
        if (p < s.od) {
            v = segment[p];
        } else {
            const int64_t i = (p - s.od) % delka;
            v = segment[s.od + i];
            if (i >= delka - x) {
                // Toward the seam the loop turns into what comes just before
                // its start, so that its last sample leads into its first;
                // that sound belongs to the next repeat, one step softer.
                const double w = static_cast<double>(i - (delka - x) + 1) / static_cast<double>(x + 1);
                v = v * (1.0 - w) + segment[s.od + i - delka] * krok * w;
            }
            if (krok != 1.0) {
                const int64_t n = (p - s.od) / delka;
                if (n != opakovani) {
                    opakovani = n;
                    zisk = std::pow(krok, static_cast<double>(n));
                    // Far below what a sample can hold (even raised 20 dB),
                    // the repeat is silence: no denormals for a note held
                    // for minutes.
                    if (zisk < 1e-12) zisk = 0.0;
                }
                v *= zisk;
            }
        }
        v *= hlasitost;
        if (p >= zni) {
            v = 0.0;
        } else if (p >= utlum) {
            const double t = static_cast<double>(p - utlum) / dozvuk;
            v *= 1.0 - t * t * (3.0 - 2.0 * t);
        }
        // A held note raised by its level may pass full scale: it clips
        // there instead of wrapping round to the other sign.
        out[n] = static_cast<int16_t>(std::clamp<long>(std::lround(v), -32768, 32767));
    }
}

}  // namespace skladba
