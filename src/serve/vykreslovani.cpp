#include "serve/vykreslovani.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "app/volby.h"
#include "platform/system.h"

namespace skladba {

namespace {

// Renders whose outputs are kept. A long piece's WAV is large (an hour,
// 160 MB), so no more than the page can be using.
constexpr size_t drzenych = 2;

// Sums as the page reads them: 32-bit little-endian.
void kmalymkoncum(const int32_t* sumy, int64_t pocet, std::string& bajty) {
    bajty.resize(static_cast<size_t>(pocet) * 4);
    for (size_t i = 0; i < static_cast<size_t>(pocet); ++i) {
        const auto x = static_cast<uint32_t>(sumy[i]);
        bajty[4 * i] = static_cast<char>(x);
        bajty[4 * i + 1] = static_cast<char>(x >> 8);
        bajty[4 * i + 2] = static_cast<char>(x >> 16);
        bajty[4 * i + 3] = static_cast<char>(x >> 24);
    }
}

Vysledekvykresleni nahrazene() {
    auto v = std::make_shared<Vykresleni>();
    v->nahrazeno = true;
    return v;
}

// What a kept render holds in memory: its files, the encodings made of
// them, and its music (about twice its events).
uint64_t bajtu(const Vykresleni& v) {
    uint64_t b = v.wav.size();
    for (const std::string& soubor : v.soubory) b += soubor.size();
    b += 2 * v.vysledek.hudba.udalosti.size() * sizeof(Udalost);
    std::lock_guard<std::mutex> zamek(v.zakodovane->m);
    return b + v.zakodovane->bajtu;
}

}  // namespace

Vykreslovani::Vykreslovani(Cesty cesty, uint64_t pamet)
    : cesty_(std::move(cesty)), pamet_(pamet), vlakno_([this] { prace(); }) {}

Vykreslovani::~Vykreslovani() { zastav(); }

std::shared_future<Vysledekvykresleni> Vykreslovani::zadej(Zadani zadani) {
    auto nova = std::make_unique<Cekajici>();
    nova->zadani = std::move(zadani);
    std::shared_future<Vysledekvykresleni> vysledek = nova->slib.get_future().share();
    std::lock_guard<std::mutex> zamek(m_);
    if (konec_) {
        nova->slib.set_value(nahrazene());
        return vysledek;
    }
    if (cekajici_) cekajici_->slib.set_value(nahrazene());
    cekajici_ = std::move(nova);
    prace_.notify_one();
    return vysledek;
}

Vysledekvykresleni Vykreslovani::najdi(uint64_t cislo) {
    std::lock_guard<std::mutex> zamek(m_);
    for (const Vysledekvykresleni& v : hotove_) {
        if (v->cislo == cislo) return v;
    }
    return nullptr;
}

std::shared_ptr<const std::string> Vykreslovani::zakodovany(const Vysledekvykresleni& v, int format,
                                                          const std::function<std::string()>& koduj) {
    Zakodovane& z = *v->zakodovane;
    std::promise<std::shared_ptr<const std::string>> slib;
    std::shared_future<std::shared_ptr<const std::string>> budouci;
    bool kodovat = false;
    {
        std::lock_guard<std::mutex> zamek(z.m);
        auto it = z.formaty.find(format);
        kodovat = it == z.formaty.end();
        if (kodovat) it = z.formaty.emplace(format, slib.get_future().share()).first;
        budouci = it->second;
    }
    if (kodovat) {
        try {
            auto data = std::make_shared<const std::string>(koduj());
            {
                std::lock_guard<std::mutex> zamek(z.m);
                z.bajtu += data->size();
            }
            slib.set_value(std::move(data));
        } catch (...) {
            slib.set_exception(std::current_exception());
        }
        std::lock_guard<std::mutex> zamek(m_);
        omez();
    }
    return budouci.get();
}

void Vykreslovani::omez() {
    uint64_t celkem = 0;
    for (const Vysledekvykresleni& v : hotove_) celkem += bajtu(*v);
    while (hotove_.size() > drzenych || (hotove_.size() > 1 && celkem > pamet_)) {
        celkem -= bajtu(*hotove_.front());
        hotove_.pop_front();
    }
}

void Vykreslovani::zastav() {
    {
        std::lock_guard<std::mutex> zamek(m_);
        konec_ = true;
        if (cekajici_) cekajici_->slib.set_value(nahrazene());
        cekajici_.reset();
        prace_.notify_one();
    }
    if (vlakno_.joinable()) vlakno_.join();
}

void Vykreslovani::prace() {
    for (;;) {
        std::unique_ptr<Cekajici> dalsi;
        {
            std::unique_lock<std::mutex> zamek(m_);
            prace_.wait(zamek, [&] { return konec_ || cekajici_; });
            if (konec_) return;
            dalsi = std::move(cekajici_);
        }
        const uint64_t cislo = ++cislo_;
        auto hotovo = std::make_shared<Vykresleni>(vykresli(dalsi->zadani, cislo));
        hotovo->cislo = cislo;
        if (hotovo->vysledek.status == 0) {
            // A page still reading an older one holds it until it is sent.
            std::lock_guard<std::mutex> zamek(m_);
            hotove_.push_back(hotovo);
            omez();
        }
        dalsi->slib.set_value(hotovo);
    }
}

void Vykreslovani::zapamatuj(const Zadani& zadani, const Vysledek& r) {
    plna_.partitura = zadani.partitura;
    plna_.dozvukms = zadani.dozvukms;
    plna_.maximum = r.mix.maximum;
    plna_.hlasy.clear();
    for (const Udalost& e : r.hudba.udalosti) plna_.hlasy.push_back(e.hlas);
}

void Vykreslovani::zapamatujmaster(const Zadani& zadani, const Master::Mereni& mereni) {
    if (!mereni.hotovo) return;
    plna_.master = zadani.partitura;
    plna_.masterdozvukms = zadani.dozvukms;
    plna_.mereni = mereni;
}

std::shared_ptr<const std::string> Vykreslovani::soubor(const Vysledekvykresleni& v, const std::string& pripona) {
    // A row of the outputs' table, or the WAV (which the compressed formats are encoded from).
    size_t radek = pocetvystupu;
    for (size_t i = 0; i < pocetvystupu; ++i) {
        if (pripona == vystupy[i].pripona) radek = i;
    }
    const std::string druh = radek < pocetvystupu ? pripona : "wav";
    if (!v->zmixu) return std::shared_ptr<const std::string>(v, radek < pocetvystupu ? &v->soubory[radek] : &v->wav);
    Zakodovane& z = *v->zakodovane;
    std::shared_ptr<const std::string> hotovy;
    {
        // Made before: requests that meet while it is made each make it,
        // and the first one kept is the one served from then on.
        std::lock_guard<std::mutex> zamek(z.m);
        auto it = z.soubory.find(druh);
        if (it != z.soubory.end()) return it->second;
    }
    Nastaveni n;
    n.cesty = cesty_;
    // The WAV and the roll's waveform need the render's sums; the rest only its music.
    if (radek == pocetvystupu || vystupy[radek].obalka) {
        std::lock_guard<std::mutex> zamek(mixm_);
        if (drzi_ == v->cislo) {
            const Sumy sumy{prirustek_.sumy().data(), prirustek_.konec(), prirustek_.maximum()};
            hotovy = std::make_shared<const std::string>(vyrobzesum(n, v->vysledek, sumy, druh));
        } else if (predtim_ == v->cislo) {
            prirustek_.predchozi([&](const int32_t* s, int64_t pocet, double maximum) {
                hotovy = std::make_shared<const std::string>(vyrobzesum(n, v->vysledek, Sumy{s, pocet, maximum}, druh));
            });
        }
        if (!hotovy) return nullptr;
    } else {
        hotovy = std::make_shared<const std::string>(vyrobzesum(n, v->vysledek, Sumy{nullptr, v->vysledek.vzorku, v->maximum}, druh));
    }
    {
        std::lock_guard<std::mutex> zamek(z.m);
        auto it = z.soubory.emplace(druh, hotovy);
        if (!it.second) return it.first->second;
        z.bajtu += hotovy->size();
    }
    std::lock_guard<std::mutex> zamek(m_);
    omez();
    return hotovy;
}

// The last render's mix makes this one, when it is the score's own (no voice
// left out) and short enough to keep; else it is made whole, with its files.
bool Vykreslovani::zmixu(const Nastaveni& n, Vykresleni& v, uint64_t cislo) {
    std::lock_guard<std::mutex> zamek(mixm_);
    const uint64_t zaklad = drzi_;
    Prirustek::Zmena z = prirustek_.vykresli(n);
    // A render that failed leaves the kept mix as it was.
    if (z.vysledek.status == 0) {
        predtim_ = z.drzi ? zaklad : 0;
        drzi_ = z.drzi ? cislo : 0;
    }
    if (!z.drzi && z.vysledek.status == 0) return false;
    v.vysledek = std::move(z.vysledek);
    if (!z.drzi) return true;
    v.zmixu = true;
    v.zmenaod = z.od;
    v.zmenapo = z.po;
    v.cely = z.cely;
    v.zaklad = zaklad;
    v.maximum = prirustek_.maximum();
    // A whole mix goes to the page as its WAV.
    if (!z.cely) kmalymkoncum(prirustek_.sumy().data() + z.od, z.po - z.od, v.sumy);
    return true;
}

Vykresleni Vykreslovani::vykresli(const Zadani& zadani, uint64_t cislo) {
    const double zacatek = platform::ted();
    Vykresleni v;
    Nastaveni n;
    n.cesty = cesty_;
    n.meze.pametmixu = pamet_;
    n.uspechjekonecny = false;
    n.nadisk = false;   // scratch files, served at once and never kept
    n.dozvukms = zadani.dozvukms;
    n.varovani = zadani.varovani;
    n.souhrn = true;
    n.hudba = true;   // the bar lines, the voices and each note's written start
    n.text = &zadani.partitura;
    n.kodovani.master.zapnuto = zadani.master;
    const bool vyber = !zadani.ztlumit.empty() || !zadani.solo.empty();
    if (vyber && (plna_.partitura != zadani.partitura || plna_.dozvukms != zadani.dozvukms)) {
        // The full score first, for its level and its voices: the mix
        // alone, no output written.
        Nastaveni p;
        p.cesty = cesty_;
        p.meze.pametmixu = pamet_;
        p.uspechjekonecny = false;
        p.dozvukms = zadani.dozvukms;
        p.hudba = true;
        p.text = &zadani.partitura;
        const Vysledek r = spust(p);
        if (r.status == 0) zapamatuj(zadani, r);
    }
    const bool zmerenmaster = plna_.mereni.hotovo && plna_.master == zadani.partitura &&
                              plna_.masterdozvukms == zadani.dozvukms;
    if (vyber && zadani.master && !zmerenmaster) {
        // With master on, the full score's own master render too: its gain
        // and scale are what the voices left keep.
        Nastaveni p = n;
        for (const Vystup& s : vystupy) p.cesty.*s.cesta = "";
        p.kodovani.master.mereni = std::make_shared<Master::Mereni>();
        if (vyrobvpameti(p).vysledek.status == 0) zapamatujmaster(zadani, *p.kodovani.master.mereni);
    }
    // A voice (from 0) that the WAV leaves out.
    auto ticho = [&zadani](int32_t hlas) {
        auto ma = [hlas](const std::vector<int>& hlasy) {
            return std::find(hlasy.begin(), hlasy.end(), hlas + 1) != hlasy.end();
        };
        return ma(zadani.ztlumit) || (!zadani.solo.empty() && !ma(zadani.solo));
    };
    const bool vybrano = vyber && plna_.partitura == zadani.partitura && plna_.dozvukms == zadani.dozvukms;
    if (vybrano) {
        for (const int32_t hlas : plna_.hlasy) n.vynechat.push_back(ticho(hlas));
        n.pevnemaximum = plna_.maximum;
        if (zadani.master) {
            const bool zmereno = plna_.mereni.hotovo && plna_.master == zadani.partitura &&
                                 plna_.masterdozvukms == zadani.dozvukms;
            n.pevnemaximum = zmereno ? plna_.mereni.maximum : 0.0;
            n.kodovani.master.pevnyzisk = zmereno;
            n.kodovani.master.zisk = plna_.mereni.zisk;
        }
    }
    // The stereo of --master is made whole (its mix is not the one kept).
    if (!vyber && !zadani.master) {
        Nastaveni jen = n;
        for (const Vystup& s : vystupy) jen.cesty.*s.cesta = "";
        if (zmixu(jen, v, cislo)) {
            if (v.vysledek.status == 0) zapamatuj(zadani, v.vysledek);
            v.sekund = platform::ted() - zacatek;
            return v;
        }
    }
    if (zadani.master && !vyber) n.kodovani.master.mereni = std::make_shared<Master::Mereni>();
    Vyrobek vyrobek = vyrobvpameti(n);
    v.vysledek = std::move(vyrobek.vysledek);
    if (v.vysledek.status == 0 && zadani.master && !vyber) zapamatujmaster(zadani, *n.kodovani.master.mereni);
    // The peak of --master's stereo is not the level of the score's own mix.
    if (v.vysledek.status == 0 && !vyber && !zadani.master) zapamatuj(zadani, v.vysledek);
    if (vybrano) {
        for (int32_t h = 0; h < v.vysledek.hudba.hlasu; ++h) {
            if (ticho(h)) v.ztlumeno.push_back(h + 1);
        }
    }
    v.wav = std::move(vyrobek.wav);
    v.soubory = std::move(vyrobek.soubory);
    v.sekund = platform::ted() - zacatek;
    return v;
}

}  // namespace skladba
