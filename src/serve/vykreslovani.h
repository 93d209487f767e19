// The renders of the editor: one at a time, in a thread of their own, with
// the engine as the renderer uses it. A render waits at most for the one in
// progress; an edit that comes while another waits takes its place, and the
// one it replaced is answered as superseded. The files of the last two
// renders are kept in memory for the page to fetch: the newest, and the one
// the page may still be playing while it loads the newest, as long as the
// two fit the memory budget (--mix-memory), with every file made of them on
// request; past it only the newest.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "output/prirustek.h"
#include "output/vyroba.h"

namespace skladba {

struct Zadani {
    std::string partitura;   // the score's bytes as the page sent them
    int dozvukms = 0;        // --release, 0 for none
    bool varovani = true;
    // Voices (numbered from 1, as the check's summary numbers them) left
    // silent, and the only ones that sound when any are given. Either makes
    // the WAV the full score's mix without those voices, at the full
    // score's level.
    std::vector<int> ztlumit;
    std::vector<int> solo;
    bool master = false;     // --master: the WAV in 48 kHz stereo, ready to share
};

// A render's audio in the compressed formats it was asked for: each
// encoded once, by the first request for it, and shared by the requests
// that come while it is being encoded and after.
struct Zakodovane {
    std::mutex m;
    std::map<int, std::shared_future<std::shared_ptr<const std::string>>> formaty;
    // The files of a render made from the last one's mix, made when first
    // asked for, by extension ("wav", or a row of vystupy).
    std::map<std::string, std::shared_ptr<const std::string>> soubory;
    uint64_t bajtu = 0;   // of those encoded and made so far
};

struct Vykresleni {
    bool nahrazeno = false;   // a newer edit came before it began
    uint64_t cislo = 0;       // names its files for the page
    Vysledek vysledek;
    double sekund = 0;        // how long it took
    std::vector<int> ztlumeno;   // the voices left silent in its WAV, from 1
    // Its files' bytes, when made at once: the WAV, and those beside it by
    // their row in vystupy (output/vyroba.h).
    std::string wav;
    std::array<std::string, pocetvystupu> soubory;
    std::shared_ptr<Zakodovane> zakodovane = std::make_shared<Zakodovane>();
    // Made from the last render's mix (output/prirustek.h): its files are
    // made when they are asked for (Vykreslovani::soubor), and the page
    // patches the audio it holds with the sums that changed.
    bool zmixu = false;
    int64_t zmenaod = 0, zmenapo = 0;   // the samples that changed
    bool cely = false;                  // all of them (a new piece for the page)
    uint64_t zaklad = 0;                // the render whose mix the others are patched into
    double maximum = 0;                 // the peak that scales every sum
    std::string sumy;                   // the sums of [zmenaod, zmenapo), 32-bit little-endian (not when cely)
};

using Vysledekvykresleni = std::shared_ptr<const Vykresleni>;

class Vykreslovani {
public:
    // cesty: the files of a run; only the mix file is written (in the
    // server's scratch folder), the score comes from the page and every
    // output stays in memory.
    // pamet: the memory budget of each render's mix and of the renders
    // kept.
    explicit Vykreslovani(Cesty cesty, uint64_t pamet = Meze{}.pametmixu);
    ~Vykreslovani();

    std::shared_future<Vysledekvykresleni> zadej(Zadani zadani);
    // A render whose files are still kept, or nullptr.
    Vysledekvykresleni najdi(uint64_t cislo);
    // The audio of render v in format (a number the caller gives each
    // format), made by koduj from its WAV on the first request; the
    // requests that come meanwhile wait for it. What koduj throws reaches
    // every request for it.
    std::shared_ptr<const std::string> zakodovany(const Vysledekvykresleni& v, int format,
                                                  const std::function<std::string()>& koduj);
    // The bytes of one of its files, by extension: a row of vystupy, else
    // the WAV (which a compressed format is encoded from); a render made
    // from the last one's mix makes it when first asked: the WAV (and the
    // roll's waveform) from the kept mix while it is this render's or the
    // one before it, which is made again from the stretch the newer one
    // replaced. Null when it no longer can be. What is made counts
    // against the memory of the renders kept.
    std::shared_ptr<const std::string> soubor(const Vysledekvykresleni& v, const std::string& pripona);
    // Ends the thread once the render in progress is done; a waiting one is
    // answered as superseded.
    void zastav();

private:
    struct Cekajici {
        Zadani zadani;
        std::promise<Vysledekvykresleni> slib;
    };

    // What a full render of a score gives the renders that leave voices
    // out: its peak, and the voice of every note, rest and dot in the
    // order they are placed.
    struct Plna {
        std::string partitura;
        int dozvukms = -1;
        double maximum = 0;
        std::vector<int32_t> hlasy;
        // Its --master render's scale and gain, for those of its renders
        // with master on (master: the score and release they are of).
        std::string master;
        int masterdozvukms = -1;
        Master::Mereni mereni;
    };

    void prace();
    Vykresleni vykresli(const Zadani& zadani, uint64_t cislo);
    bool zmixu(const Nastaveni& n, Vykresleni& v, uint64_t cislo);
    void zapamatuj(const Zadani& zadani, const Vysledek& r);
    void zapamatujmaster(const Zadani& zadani, const Master::Mereni& mereni);
    // Drops the oldest kept renders while more are kept than the page can
    // use, or while they pass the budget (the newest always stays). With m_.
    void omez();

    Cesty cesty_;
    uint64_t pamet_;
    std::mutex m_;
    std::condition_variable prace_;
    std::unique_ptr<Cekajici> cekajici_;
    std::deque<Vysledekvykresleni> hotove_;
    uint64_t cislo_ = 0;
    bool konec_ = false;
    Plna plna_;   // the last full render's, used by the render thread only
    // The last render's mix, which the next is made from; drzi_: the
    // render it is, predtim_: the one before it, which it can give back
    // (0: none).
    std::mutex mixm_;
    Prirustek prirustek_{pamet_};   // the last render's mix, within the same --mix-memory
    uint64_t drzi_ = 0;
    uint64_t predtim_ = 0;
    std::thread vlakno_;
};

}  // namespace skladba
