#include "serve/vykreslovani.h"

#include <cstdio>
#include <fstream>
#include <utility>

#include "app/volby.h"
#include "platform/system.h"

namespace skladba {

namespace {

// Renders whose files are kept. A long piece's WAV is large (an hour,
// 160 MB), so no more than the page can be using.
constexpr size_t drzenych = 2;

// The render's file moved aside under its number, out of the way of the next.
std::string odloz(const std::string& cesta, uint64_t cislo, const char* pripona) {
    const std::string cil = slozkacesty(cesta) + std::to_string(cislo) + pripona;
    return std::rename(cesta.c_str(), cil.c_str()) == 0 ? cil : "";
}

Vysledekvykresleni nahrazene() {
    auto v = std::make_shared<Vykresleni>();
    v->nahrazeno = true;
    return v;
}

}  // namespace

Vykreslovani::Vykreslovani(Cesty cesty) : cesty_(std::move(cesty)), vlakno_([this] { prace(); }) {}

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
        auto hotovo = std::make_shared<Vykresleni>(vykresli(dalsi->zadani));
        hotovo->cislo = ++cislo_;
        if (hotovo->vysledek.status == 0) {
            hotovo->wav = odloz(cesty_.vystup, hotovo->cislo, ".wav");
            hotovo->svg = odloz(cesty_.obraz, hotovo->cislo, ".svg");
            hotovo->midi = odloz(cesty_.midi, hotovo->cislo, ".mid");
            Vysledekvykresleni stary;
            {
                std::lock_guard<std::mutex> zamek(m_);
                hotove_.push_back(hotovo);
                if (hotove_.size() > drzenych) {
                    stary = hotove_.front();
                    hotove_.pop_front();
                }
            }
            // A page still reading it keeps its open file.
            if (stary) {
                for (const std::string* c : {&stary->wav, &stary->svg, &stary->midi}) std::remove(c->c_str());
            }
        }
        dalsi->slib.set_value(hotovo);
    }
}

Vykresleni Vykreslovani::vykresli(const Zadani& zadani) {
    const double zacatek = platform::ted();
    Vykresleni v;
    {
        std::ofstream f(cesty_.partitura, std::ios::binary | std::ios::trunc);
        f.write(zadani.partitura.data(), static_cast<std::streamsize>(zadani.partitura.size()));
        if (!f.flush()) {
            v.vysledek.status = 1;
            v.vysledek.zprava = "cannot write the score for the render to " + cesty_.partitura;
            return v;
        }
    }
    Nastaveni n;
    n.cesty = cesty_;
    n.uspechjekonecny = false;
    n.nadisk = false;   // scratch files, served at once and never kept
    n.dozvukms = zadani.dozvukms;
    n.varovani = zadani.varovani;
    n.souhrn = true;
    n.seznamnot = true;
    v.vysledek = spust(n);
    v.sekund = platform::ted() - zacatek;
    return v;
}

}  // namespace skladba
