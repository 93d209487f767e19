// Renders of one score made from the last one: what the editor's server
// does on every keystroke. The last render's mix (its 32-bit sums and each
// block's peak) and what its mix took (every segment, in order, and the
// samples of each) are kept. A new render reads the score without mixing,
// which lists what its mix takes; where the two lists part and meet again,
// the notes between them changed, and only the blocks their sounds cover
// are mixed again, through the mix itself, replaying every note that
// reaches into them in the order of the score. So every sum there and each block's peak come
// out as a whole render makes them, and the peak of the blocks not touched
// is known without replaying them: the result is the whole render's, byte
// for byte. An edit that moves time (a value, a tempo, a step back, or one
// more draw of the start jitter) changes every note after it; the stretch
// then runs to the end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/beh.h"
#include "engine/pamatkrivky.h"
#include "output/wav.h"
#include "synth/rejstrik.h"
#include "synth/zaznammixu.h"

namespace skladba {

class Prirustek {
public:
    // pamet: the most bytes of sums and notes it keeps (--mix-memory); a
    // longer piece is rendered whole every time and nothing is kept. The
    // stretch the last render replaced is kept while it fits beside them,
    // and the register segments the last render played within half of it.
    // Half of it may hold the register segments the last render played.
    explicit Prirustek(uint64_t pamet) : pamet_(pamet) { segmenty_.nejvic = pamet / 2; }

    struct Zmena {
        Vysledek vysledek;
        // The kept mix is this render's (sumy(), maximum()); false when the
        // render failed or the piece is too long to keep: the caller then
        // renders as it would without this.
        bool drzi = false;
        bool cely = false;        // the whole mix was made
        int64_t od = 0, po = 0;   // the samples that may have changed, [od, po)
        bool novymaximum = false; // the peak, and so every sample's scale, changed
    };

    // Renders n's score (n.text) for its Vysledek, making only what changed
    // of the mix since the last render. Settings that change the mix
    // otherwise (a release, the registers, voices left out) start anew.
    Zmena vykresli(const Nastaveni& n);

    const std::vector<int32_t>& sumy() const { return sumy_; }
    double maximum() const { return maximum_; }
    // The WAV a whole render of the same score writes.
    std::string wav(const Hlavicka& hlavicka) const { return wavzesum(sumy_.data(), konec(), maximum_, hlavicka); }
    int64_t konec() const { return static_cast<int64_t>(sumy_.size()); }
    // Calls f with the mix as the render before the last one left it (its
    // sums, their count and peak), restored in place for the call from the
    // stretch the last render replaced; false when that is not kept (the
    // two together would pass the memory budget, or there was none).
    bool predchozi(const std::function<void(const int32_t* sumy, int64_t pocet, double maximum)>& f);
    // Bytes held.
    uint64_t pamet() const;
    void zapomen();

private:
    bool stejnanastaveni(const Nastaveni& n) const;
    Zmena cely(const Nastaveni& n);
    void prijmi(Zaznammixu& z, int64_t konec);
    bool smichej(const Nastaveni& n, const std::vector<Vstupmixu>& vstupy, Zaznammixu& okno);
    void prober();

    uint64_t pamet_;
    bool ma_ = false;
    // What the kept mix was made with.
    std::string rejstriky_;
    int dozvukms_ = -1;
    std::vector<Vstupmixu> vstupy_;
    std::vector<int32_t> sumy_;
    std::vector<uint32_t> vrcholy_;   // each block's peak (Mix::vzorkunablok samples)
    double maximum_ = 0;
    Segmentyzvuku zvuky_;   // the samples of every segment vstupy_ plays
    Pamatkrivky krivky_;    // the tempo curves' stretches, for every run
    Pamatrejstriku segmenty_;   // the register segments the last run played
    // What the last render replaced of the mix before it: the sums of
    // [od, od + sumy.size()) as they were, and the length and peak.
    struct Predtim {
        bool je = false;
        int64_t od = 0;
        std::vector<int32_t> sumy;
        int64_t konec = 0;
        double maximum = 0;
    };
    Predtim predtim_;
};

}  // namespace skladba
