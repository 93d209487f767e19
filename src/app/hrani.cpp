#include "app/hrani.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "base/chyba.h"
#include "base/jmeno.h"
#include "base/format.h"
#include "base/vzorky.h"
#include "engine/pozorovatel.h"
#include "output/vyroba.h"
#include "platform/klavesy.h"
#include "platform/system.h"
#ifdef SKLADBA_HAVE_PULSE
#include "platform/prehravac.h"
#endif

namespace skladba {

bool rozeberod(const std::string& t, Odkud& o) {
    o = Odkud{};
    if (t.compare(0, 4, "bar:") == 0) {
        const std::string n = t.substr(4);
        if (n.empty() || n.size() > 9 || n.find_first_not_of("0123456789") != std::string::npos) return false;
        o.takt = std::stoll(n);
        return o.takt >= 1;
    }
    // [M:]S[.F]
    const size_t dvojtecka = t.find(':');
    const std::string m = dvojtecka == std::string::npos ? "" : t.substr(0, dvojtecka);
    const std::string s = dvojtecka == std::string::npos ? t : t.substr(dvojtecka + 1);
    if (m.size() > 6 || m.find_first_not_of("0123456789") != std::string::npos) return false;
    if (s.empty() || s.size() > 12 || s.find_first_not_of("0123456789.") != std::string::npos ||
        s.find('.') != s.rfind('.') || s.front() == '.') {
        return false;
    }
    const double sekund = std::strtod(s.c_str(), nullptr);
    if (!m.empty() && sekund >= 60) return false;
    o.sekund = (m.empty() ? 0 : 60.0 * std::stoll(m)) + sekund;
    return true;
}

#ifdef SKLADBA_HAVE_PULSE

namespace {

// What a render gives the player: its samples, and where each bar starts
// with the length of a quarter note there.
struct Zvuk {
    std::vector<int16_t> vzorky;
    std::vector<int64_t> takty;     // the start of bar 2, 3, ...
    std::vector<int64_t> ctvrtky;   // the quarter at bar 1, 2, ...
};

// The bar lines as the run places them: a bar starts where the note or rest
// after its bar line starts (without the start jitter). Voices written one
// after another repeat the same bar lines; they are kept once.
class Takty : public Pozorovatel {
public:
    void takt(int64_t) override { cekajici_ = true; }
    void nota(const UlozenaNota& u) override {
        if (ctvrtky.empty()) ctvrtky.push_back(u.celatempa / 4);
        if (!cekajici_) return;
        cekajici_ = false;
        if (u.kurzor > 0) taktu.push_back({u.kurzor, u.celatempa / 4});
    }
    void zpet(double, int64_t, int64_t, int64_t) override { cekajici_ = false; }

    std::vector<std::pair<int64_t, int64_t>> taktu;
    std::vector<int64_t> ctvrtky;

private:
    bool cekajici_ = false;
};

// A whole file, empty when it cannot be read.
std::string celysoubor(const std::string& cesta) {
    platform::Soubor f = platform::otevriprocteni(cesta.c_str());
    const int64_t bajtu = f.otevren() ? platform::velikost(f.fd()) : -1;
    if (bajtu <= 0) return "";
    std::string b(static_cast<size_t>(bajtu), '\0');
    return platform::ctivse(f.fd(), &b[0], b.size(), 0) == bajtu ? b : "";
}

// One render into memory: the samples and the bar lines, or false with the
// run's message. With --midi, --piano-roll or --musicxml the files are
// written as a render writes them, the WAV to the player's scratch folder
// and read back from there.
bool vykresli(const Nastaveni& n, Zvuk& z, std::string& chyba, std::vector<std::string>* varovani) {
    Nastaveni m = n;
    Takty t;
    m.pozorovatel = &t;
    const bool soubory = !m.cesty.midi.empty() || !m.cesty.obraz.empty() || !m.cesty.musicxml.empty();
    Vyrobek v;
    if (soubory) {
        v.vysledek = vyrob(m);
    } else {
        v = vyrobvpameti(m);
    }
    if (varovani) *varovani = v.vysledek.varovani;
    if (v.vysledek.status != 0) {
        chyba = v.vysledek.zprava;
        return false;
    }
    if (soubory) {
        v.wav = celysoubor(m.cesty.vystup);
        std::remove(m.cesty.vystup.c_str());
    }
    if (v.wav.size() < delkahlavicky) {
        chyba = "cannot read back the render: " + popischyby(errno);
        return false;
    }
    z = Zvuk{};
    z.vzorky.resize((v.wav.size() - delkahlavicky) / 2);
    std::memcpy(z.vzorky.data(), v.wav.data() + delkahlavicky, z.vzorky.size() * 2);
    zlittleendian(z.vzorky.data(), z.vzorky.size());
    std::sort(t.taktu.begin(), t.taktu.end());
    // Bar lines of other voices land on the same sample, or within a
    // millisecond where a tempo curve rounds differently.
    z.ctvrtky = t.ctvrtky.empty() ? std::vector<int64_t>{zaklad / 2} : t.ctvrtky;
    for (const auto& [kde, ctvrt] : t.taktu) {
        if (!z.takty.empty() && kde - z.takty.back() < zaklad / 1000) continue;
        z.takty.push_back(kde);
        z.ctvrtky.push_back(std::max<int64_t>(1, ctvrt));
    }
    return true;
}

std::string cas(int64_t vzorek) {
    const int64_t desetin = vzorek * 10 / zaklad;
    char b[32];
    std::snprintf(b, sizeof b, "%lld:%02lld.%lld", static_cast<long long>(desetin / 600),
                  static_cast<long long>(desetin / 10 % 60), static_cast<long long>(desetin % 10));
    return b;
}

// "bar 17 beat 2", or empty for a score without bar lines.
std::string taktadoba(const Zvuk& z, int64_t vzorek) {
    if (z.takty.empty()) return "";
    const size_t i = static_cast<size_t>(std::upper_bound(z.takty.begin(), z.takty.end(), vzorek) - z.takty.begin());
    const int64_t zacatek = i == 0 ? 0 : z.takty[i - 1];
    const int64_t doba = (vzorek - zacatek) / z.ctvrtky[i] + 1;
    return "bar " + std::to_string(i + 1) + " beat " + std::to_string(doba);
}

// A render of the watched score running beside the playing.
class Prerender {
public:
    ~Prerender() {
        if (vlakno_.joinable()) vlakno_.join();
    }
    bool bezi() const { return vlakno_.joinable() && !hotovo_; }
    void spust(const Nastaveni& n) {
        vlakno_ = std::thread([this, n] {
            Zvuk z;
            std::string chyba;
            const bool ok = vykresli(n, z, chyba, nullptr);
            std::lock_guard<std::mutex> zamek(m_);
            ok_ = ok;
            zvuk_ = std::move(z);
            chyba_ = chyba;
            hotovo_ = true;
        });
    }
    // When it has ended: whether it succeeded, with the sound or the error.
    bool vyzvedni(bool& ok, Zvuk& z, std::string& chyba) {
        if (!vlakno_.joinable() || !hotovo_) return false;
        vlakno_.join();
        std::lock_guard<std::mutex> zamek(m_);
        ok = ok_;
        z = std::move(zvuk_);
        chyba = chyba_;
        hotovo_ = false;
        return true;
    }

private:
    std::thread vlakno_;
    std::mutex m_;
    std::atomic<bool> hotovo_{false};
    bool ok_ = false;
    Zvuk zvuk_;
    std::string chyba_;
};

}  // namespace

#endif

int hraj(const Volby& volby, Nastaveni n) {
    Odkud odkud;
    if (!volby.od.empty() && !rozeberod(volby.od, odkud)) {
        std::fprintf(stderr, "skladba: --from takes seconds (80), minutes and seconds (1:20, 1:20.5) or a bar "
                             "(bar:17), not '%s'\n", volby.od.c_str());
        return 2;
    }
#ifndef SKLADBA_HAVE_PULSE
    (void)n;
    std::fprintf(stderr, "skladba: play is not part of this build: it needs libpulse-simple (libpulse-dev); "
                         "write a file and play that instead: skladba %s -o piece.flac\n",
                 volby.partitury.empty() ? "SCORE" : volby.partitury[0].c_str());
    return 1;
#else
    const std::string& jmeno = n.cesty.jmenopartitury;
    n.postup = false;
    n.uspechjekonecny = false;
    platform::Prehravac p;
    std::string chyba;
    if (!p.otevri(zaklad, jmeno, chyba)) {
        std::string flac = n.cesty.partitura == "-" ? "piece" : n.cesty.partitura;
        flac.erase(zacatekpripony(flac));
        std::fprintf(stderr, "skladba: cannot play %s: no sound server answered (%s); skladba play needs PulseAudio "
                             "or PipeWire running for this user. Write a file instead: skladba %s -o %s.flac\n",
                     jmeno.c_str(), chyba.c_str(), n.cesty.partitura.c_str(), flac.c_str());
        return 1;
    }
    Zvuk z;
    std::vector<std::string> varovani;
    const bool ok = vykresli(n, z, chyba, &varovani);
    for (const std::string& v : varovani) std::fprintf(stderr, "%s\n", v.c_str());
    if (!ok) {
        std::fprintf(stderr, "skladba: %s\n", chyba.c_str());
        return 1;
    }
    const auto delka = [&] { return static_cast<int64_t>(z.vzorky.size()); };
    int64_t zapsano = static_cast<int64_t>(odkud.sekund * zaklad);
    if (odkud.takt > 1) {
        if (odkud.takt - 2 >= static_cast<int64_t>(z.takty.size())) {
            std::fprintf(stderr, "skladba: --from bar:%lld: %s has %zu bar%s\n", static_cast<long long>(odkud.takt),
                         jmeno.c_str(), z.takty.size() + 1, z.takty.empty() ? " (no bar lines |)" : "s");
            return 2;
        }
        zapsano = z.takty[static_cast<size_t>(odkud.takt - 2)];
    }
    if (zapsano > delka()) {
        std::fprintf(stderr, "skladba: --from %s is past the end of %s (%s)\n", volby.od.c_str(), jmeno.c_str(),
                     cas(delka()).c_str());
        return 2;
    }

    const bool terminal = platform::vstupjeterminal() && platform::vystupjeterminal();
    if (terminal) platform::surovyterminal();
    const int blok = zaklad / 100;   // 10 ms a write: keys answer at once
    bool pauza = false;
    int64_t odseku = zapsano;        // where playing last started: nothing before it is heard
    int64_t pozicepauzy = 0;
    std::string hlaseni;             // the last render's error, on the status line
    double posledniradek = -1;
    Prerender prerender;
    platform::Otisk otisk = platform::otisk(n.cesty.partitura.c_str());
    double zmenaod = -1, kontrola = 0;
    bool dohrano = false;

    // The server's latency, asked at most once a status line and only once
    // the stream has a buffer's worth: asked of a stream just started or
    // flushed, the server holds its first writes back for a second.
    int64_t zpozdenius = -1;
    auto zmerzpozdeni = [&] {
        zpozdenius = zapsano - odseku >= 2 * zaklad * platform::zpozdenims / 1000 ? p.zpozdeni() : -1;
    };
    // What is heard now: what was written less what the server still holds.
    auto slysim = [&] {
        if (pauza) return pozicepauzy;
        const int64_t us = zpozdenius;
        const int64_t s = zapsano - (us < 0 ? 0 : us * zaklad / 1000000);
        return std::min(delka(), std::max(odseku, s));
    };
    auto skoc = [&](int64_t kam) {
        kam = std::max<int64_t>(0, std::min(kam, delka()));
        p.zahod();
        zapsano = odseku = pozicepauzy = kam;
        zpozdenius = -1;
        dohrano = false;
    };
    auto radek = [&](bool hned) {
        if (!terminal) return;
        const double t = platform::ted();
        if (!hned && t - posledniradek < 0.1) return;
        posledniradek = t;
        zmerzpozdeni();
        const int64_t kde = slysim();
        std::string r = " " + cas(kde) + " / " + cas(delka());
        const int64_t us = zpozdenius;
        if (us >= 0 && !pauza) r += "  latency " + std::to_string((us + 500) / 1000) + " ms";
        const std::string takt = taktadoba(z, kde);
        if (!takt.empty()) r += "  " + takt;
        r += pauza ? "  paused" : "";
        if (!hlaseni.empty()) {
            r += "  " + hlaseni;
        } else {
            r += "   [space] pause  [<- ->] 5 s  [Home] start  [q] quit";
        }
        if (r.size() > 160) r.resize(160);
        std::fprintf(stdout, "\r%s\033[K", r.c_str());
        std::fflush(stdout);
    };

    int status = 0;
    for (;;) {
        if (terminal) {
            bool konec = false;
            for (platform::Klavesa k; (k = platform::ctiklavesu(0)) != platform::Klavesa::zadna;) {
                zmerzpozdeni();
                const int64_t kde = slysim();
                switch (k) {
                    case platform::Klavesa::konec: konec = true; break;
                    case platform::Klavesa::mezera:
                        if (!pauza) {
                            pozicepauzy = kde;
                            p.zahod();
                            zapsano = kde;
                            pauza = true;
                        } else {
                            pauza = false;
                            odseku = zapsano;
                        }
                        break;
                    case platform::Klavesa::vlevo: skoc(kde - 5 * zaklad); break;
                    case platform::Klavesa::vpravo: skoc(kde + 5 * zaklad); break;
                    case platform::Klavesa::domu: skoc(0); break;
                    default: break;
                }
                radek(true);
            }
            if (konec) break;
        }
        if (volby.hlidat) {
            const double t = platform::ted();
            bool ok2 = false;
            Zvuk novy;
            std::string proc;
            if (prerender.vyzvedni(ok2, novy, proc)) {
                if (ok2) {
                    z = std::move(novy);
                    hlaseni.clear();
                    zapsano = std::min(zapsano, delka());
                    odseku = std::min(odseku, zapsano);
                    pozicepauzy = std::min(pozicepauzy, delka());
                    dohrano = false;
                } else {
                    hlaseni = proc;
                    if (!terminal) std::fprintf(stderr, "skladba: %s\n", proc.c_str());
                }
                radek(true);
            }
            if (t - kontrola >= 0.1) {
                kontrola = t;
                const platform::Otisk ted = platform::otisk(n.cesty.partitura.c_str());
                if (ted != otisk) {
                    otisk = ted;
                    zmenaod = t;
                } else if (zmenaod >= 0 && t - zmenaod >= 0.1 && !prerender.bezi()) {
                    // Held still for a moment: an editor that writes in steps is done.
                    zmenaod = -1;
                    if (ted.existuje && ted.velikost > 0) prerender.spust(n);
                }
            }
        }
        if (!pauza && zapsano < delka()) {
            const int64_t kolik = std::min<int64_t>(blok, delka() - zapsano);
            if (!p.pis(z.vzorky.data() + zapsano, static_cast<size_t>(kolik), chyba)) {
                if (terminal) std::fputs("\n", stdout);
                std::fprintf(stderr, "skladba: the sound server stopped taking %s: %s\n", jmeno.c_str(), chyba.c_str());
                status = 1;
                break;
            }
            zapsano += kolik;
        } else if (!pauza && !dohrano) {
            p.dohraj();
            dohrano = true;
            radek(true);
            if (!volby.hlidat) break;
        } else if (terminal) {
            platform::cekejnavstup(50);
        } else {
            platform::spi(50);
        }
        radek(false);
    }
    if (terminal) {
        std::fputs("\n", stdout);
        std::fflush(stdout);
        platform::obnovterminal();
    }
    return status;
#endif
}

}  // namespace skladba
