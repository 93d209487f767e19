#include "synth/mix.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/chyba.h"
#include "base/stav.h"
#include "base/vzorky.h"
#include "platform/system.h"
#include "synth/jadro.h"
#include "synth/rejstrik.h"

namespace skladba {

namespace {

constexpr size_t bajtubloku = sizeof(int32_t) * delkatonu;

off_t bajtvzorku(int64_t sample) { return static_cast<off_t>(sample) * 4; }

}  // namespace

Mix::Mix(const Meze& meze)
    : meze_(meze),
      bloky_(new Bloky),
      vpameti_(meze.pametmixu > 0),
      limitbloku_(static_cast<int64_t>(meze.pametmixu / (sizeof(int32_t) * vzorkubloku))) {}

Mix::~Mix() { smazmix(); }

void Mix::otevri(const std::string& cesta, bool azpotreba) {
    mixcesta_ = cesta;
    odlozeno_ = azpotreba && vpameti_;
    if (!odlozeno_) vytvor();
}

void Mix::vytvor() {
    const std::string& cesta = mixcesta_;
    // Signals wait while the file is created and locked, so that an
    // interruption either finds it marked for removal or never created; a
    // file that another run holds is never marked.
    platform::zadrzpreruseni();
    platform::Soubor f = platform::otevrizamceny(cesta.c_str());
    const int err = errno;
    if (f.otevren()) znacka_ = platform::oznacdocasny(cesta);
    platform::pustpreruseni();
    errno = err;
    if (!f.otevren()) {
        if (errno == EWOULDBLOCK) {
            const bool tady = cesta.find('/') == std::string::npos;
            chybasouboru("another skladba run is using the mix file " + cesta + (tady ? " in this directory" : "") +
                         "; wait for it to finish");
        }
        if (errno == EBUSY) {
            chybasouboru("cannot create the mix file " + cesta + ": it keeps being replaced by another process");
        }
        if (odlozeno_) {
            chybasouboruerrno("the piece outgrew the memory --mix-memory gives its mix: cannot create the mix file", cesta);
        }
        chybasouboruerrno("cannot create the mix file", cesta);
    }
    mixtotoznost_ = platform::totoznost(f.fd());
    osoubor_ = std::move(f);   // from here on the run's clean-up removes it
    // Only a file left by an interrupted run needs emptying. Truncating a
    // new, empty one is not free: ext4 then flushes the whole mix to disk
    // when the file is closed, long after it was deleted.
    if (platform::velikost(osoubor_.fd()) != 0 && !platform::nastavvelikost(osoubor_.fd(), 0)) {
        chybasouboruerrno("cannot empty the mix file", cesta);
    }
}

void Mix::ctimix(int64_t start, int32_t* block) {
    if (vpameti_) {
        for (int hotovo = 0; hotovo < delkatonu;) {
            const int64_t vzorek = start + hotovo;
            const int64_t cislo = vzorek / vzorkubloku;
            const int od = static_cast<int>(vzorek % vzorkubloku);
            const int kus = static_cast<int>(std::min<int64_t>(vzorkubloku - od, delkatonu - hotovo));
            const int64_t platnych = std::max<int64_t>(0, std::min<int64_t>(kus, vysledek_.konecmixu - vzorek));
            if (cislo < static_cast<int64_t>(pamet_.size()) && pamet_[cislo].sumy && platnych > 0) {
                std::memcpy(block + hotovo, pamet_[cislo].sumy + od, static_cast<size_t>(platnych) * 4);
                std::memset(block + hotovo + platnych, 0, static_cast<size_t>(kus - platnych) * 4);
            } else {
                std::memset(block + hotovo, 0, static_cast<size_t>(kus) * 4);
            }
            hotovo += kus;
        }
        return;
    }
    const ssize_t n = platform::ctivse(osoubor_.fd(), block, bajtubloku, bajtvzorku(start));
    if (n < 0) chybasouboruerrno("cannot read the mix file", mixcesta_);
    const size_t sums = static_cast<size_t>(n) / 4;
    zlittleendian(block, sums);
    std::memset(block + sums, 0, (delkatonu - sums) * 4);
}

// Writes count sums to the mix file at sample start, the rest again when the
// system writes only part of it (each repetition counted in chyby); a file
// error after pokusyzapisu attempts.
void Mix::zapis(int64_t start, const int32_t* block, int count) {
    const size_t bytes = sizeof(int32_t) * static_cast<size_t>(count);
    // The sums go to the file little-endian; on a little-endian machine that
    // is the block itself.
    const int32_t* data = block;
    if constexpr (!littleendianstroj) {
        std::memcpy(bloky_->testpole, block, bytes);
        dolittleendian(bloky_->testpole, static_cast<size_t>(count));
        data = bloky_->testpole;
    }
    if (!platform::zapisvse(osoubor_.fd(), data, bytes, bajtvzorku(start), &vysledek_.chyby)) {
        chybasouboruerrno("cannot write the mix file", mixcesta_);
    }
}

// Reads the count sums just written at sample start back into testpole and
// keeps every one that differs from block.
void Mix::over(int64_t start, const int32_t* block, int count) {
    int32_t* testpole = bloky_->testpole;
    const size_t bytes = sizeof(int32_t) * static_cast<size_t>(count);
    const ssize_t n = platform::ctivse(osoubor_.fd(), testpole, bytes, bajtvzorku(start));
    if (n < 0) chybasouboruerrno("cannot read back the mix file", mixcesta_);
    const size_t sums = static_cast<size_t>(n) / 4;
    zlittleendian(testpole, sums);
    std::memset(testpole + sums, 0, bytes - sums * 4);
    if (std::memcmp(testpole, block, bytes) == 0) return;

    for (int i = 0; i < count; ++i) {
        if (testpole[i] == block[i]) continue;
        ++vysledek_.nesouhlasy;
        nesouhlasy_.push_back({block[i], testpole[i], start + i});
    }
}

// The block leaves the cache: the sums notes added to are written to the
// file and verified. Whatever the file then holds is what a later note
// reads, also after a mismatch.
void Mix::vyrad(Blok& b) {
    if (b.zmenaod < b.zmenado) {
        const int64_t start = b.cislo * vzorkubloku + b.zmenaod;
        const int count = b.zmenado - b.zmenaod;
        zapis(start, sumy(b) + b.zmenaod, count);
        over(start, sumy(b) + b.zmenaod, count);
    }
    b = Blok{};
}

// The cached block number cislo, read from the mix file into the cache if it
// is not there (the least recently used block leaving to make room). Where
// the file ends, or has a gap, its sums are 0.
Mix::Blok& Mix::blok(int64_t cislo) {
    ++hodiny_;
    Blok* volny = nullptr;
    Blok* nejstarsi = nullptr;
    for (Blok& b : blok_) {
        if (b.cislo == cislo) {
            b.pouzit = hodiny_;
            return b;
        }
        if (b.cislo < 0) {
            if (!volny) volny = &b;
        } else if (!nejstarsi || b.pouzit < nejstarsi->pouzit) {
            nejstarsi = &b;
        }
    }
    Blok& b = volny ? *volny : *nejstarsi;
    // A block that leaves is written and read back, a block that comes in is
    // read: a score whose voices keep jumping further than the cache holds
    // pays this for every note, and is stopped when it adds up beyond reason.
    vysledek_.prenosmixu += sizeof bloky_->sumy[0] * (volny ? 1 : 3);
    if (vysledek_.prenosmixu > meze_.prenosmixu) {
        const uint64_t mib = meze_.prenosmixu >> 20;
        chybapartitury("score too costly to mix: its notes would move more than " +
                       (mib % 1024 == 0 ? std::to_string(mib / 1024) + " GiB" : std::to_string(mib) + " MiB") +
                       " through the mix file (voices jump back and forth further than the mix cache holds)");
    }
    if (!volny) vyrad(b);

    int32_t* data = sumy(b);
    const ssize_t n = platform::ctivse(osoubor_.fd(), data, sizeof bloky_->sumy[0], bajtvzorku(cislo * vzorkubloku));
    if (n < 0) chybasouboruerrno("cannot read the mix file", mixcesta_);
    const size_t sums = static_cast<size_t>(n) / 4;
    zlittleendian(data, sums);
    std::memset(data + sums, 0, (vzorkubloku - sums) * 4);
    b.cislo = cislo;
    b.pouzit = hodiny_;
    return b;
}

// The sums of block cislo that a note adds to from od for kus samples,
// marked as changed: in memory while the block is within the budget (the
// first block past it moves the mix to the file), else in the cache.
int32_t* Mix::pridejdo(int64_t cislo, int od, int kus) {
    if (vpameti_ && cislo >= limitbloku_) vylij();
    if (vpameti_) {
        if (cislo >= static_cast<int64_t>(pamet_.size())) pamet_.resize(static_cast<size_t>(cislo) + 1);
        Kus& k = pamet_[cislo];
        if (!k.sumy) {
            const size_t deska = static_cast<size_t>(cislo / blokunadesce);
            if (deska >= desky_.size()) desky_.resize(deska + 1);
            if (!desky_[deska].data()) {
                // The last one only as far as the budget goes.
                const int64_t prvni = static_cast<int64_t>(deska) * blokunadesce;
                const int64_t bloku = std::min<int64_t>(blokunadesce, limitbloku_ - prvni);
                const int64_t bajtu = bloku * vzorkubloku * static_cast<int64_t>(sizeof(int32_t));
                // What the registers keep shares the budget.
                if (rozpocet_ && !rozpocet_->vejdese(bajtu)) {
                    vylij();
                    return pridejdo(cislo, od, kus);
                }
                desky_[deska] = platform::Pamet(static_cast<size_t>(bajtu));
                if (rozpocet_) rozpocet_->mix += bajtu;
            }
            k.sumy = static_cast<int32_t*>(desky_[deska].data()) + (cislo % blokunadesce) * vzorkubloku;
        }
        k.zmenaod = std::min(k.zmenaod, od);
        k.zmenado = std::max(k.zmenado, od + kus);
        return k.sumy;
    }
    Blok& b = blok(cislo);
    b.zmenaod = std::min(b.zmenaod, od);
    b.zmenado = std::max(b.zmenado, od + kus);
    return sumy(b);
}

// The piece has grown past the budget: every block held in memory goes to
// the mix file, in file order, written and read back as a block leaving the
// cache is, and its memory is given back. Only the sums notes added to are
// written, so the file is as long as it would have been had the mix been in
// the file from the start.
void Mix::vylij() {
    if (odlozeno_) {
        vytvor();
        odlozeno_ = false;
    }
    vpameti_ = false;
    for (size_t j = 0; j < pamet_.size(); ++j) {
        Kus& k = pamet_[j];
        if (k.sumy && k.zmenaod < k.zmenado) {
            const int64_t start = static_cast<int64_t>(j) * vzorkubloku + k.zmenaod;
            const int count = k.zmenado - k.zmenaod;
            vysledek_.prenosmixu += sizeof bloky_->sumy[0] * 2;
            zapis(start, k.sumy + k.zmenaod, count);
            over(start, k.sumy + k.zmenaod, count);
        }
        k = Kus{};
    }
    std::vector<Kus>().swap(pamet_);
    std::vector<platform::Pamet>().swap(desky_);
    if (rozpocet_) rozpocet_->mix = 0;
}

// Adds count samples of segment, each times sila / 100, into the cached
// blocks from sample start on; a score error when a sum would leave the
// 32-bit range.
void Mix::pridejsegment(int64_t start, const int16_t* segment, int count, int sila, int32_t g) {
    // Only the stretch asked for is made (all of it but for a record).
    if (start < oknood_) {
        const int64_t pred = std::min<int64_t>(oknood_ - start, count);
        start += pred;
        segment += pred;
        count -= static_cast<int>(pred);
    }
    if (start + count > oknopo_) count = static_cast<int>(std::max<int64_t>(0, oknopo_ - start));
    // Every sum in the mix was counted into maximum and a segment adds at
    // most 32768 to it, so below this bound no sum can overflow and the fast
    // kernel needs no checks.
    constexpr double bezpecnemaximum = 2147483647.0 - 32768.0;
    const bool bezpecne = vysledek_.maximum <= bezpecnemaximum;
    const jadro::Pridej pridej = jadro::nejlepsi();
    static const jadro::PridejZeslabene pridejzeslabene = jadro::nejlepsizeslabene();
    uint32_t peak = 0;
    for (int hotovo = 0; hotovo < count;) {
        const int64_t vzorek = start + hotovo;
        const int od = static_cast<int>(vzorek % vzorkubloku);
        const int kus = std::min(vzorkubloku - od, count - hotovo);
        int32_t* block = pridejdo(vzorek / vzorkubloku, od, kus) + od;
        uint32_t vrchol = 0;
        if (bezpecne) {
            vrchol = g < 32768 ? pridejzeslabene(segment + hotovo, g, sila, block, kus) : pridej(segment + hotovo, sila, block, kus);
        } else if (!jadro::pridejkontrolovane(segment + hotovo, sila, block, kus, vrchol, g)) {
            chybapartitury("mix overflow: a sum of the voices here would leave the 32-bit range");
        }
        peak = std::max(peak, vrchol);
        if (zaznam_) {
            // Each block's own peak: the mix's is the largest of them.
            const size_t j = static_cast<size_t>((vzorek - oknood_) / vzorkubloku);
            if (j >= zaznam_->vrcholy.size()) zaznam_->vrcholy.resize(j + 1, 0);
            zaznam_->vrcholy[j] = std::max(zaznam_->vrcholy[j], vrchol);
        }
        hotovo += kus;
    }
    if (peak > vysledek_.maximum) vysledek_.maximum = peak;
}

// A segment cut short: its first utlum samples as they are, then a fade to
// silence up to zni along 1 - (3x^2 - 2x^3), which starts and ends flat, so
// neither end clicks. Only + - * / go into it, so every machine makes the
// same samples.
int Mix::zkratsegment(const int16_t* segment, int64_t utlum, int64_t zni) {
    int16_t* zkraceny = bloky_->zkraceny;
    const int64_t dozvuk = zni - utlum;
    std::memcpy(zkraceny, segment, sizeof(int16_t) * static_cast<size_t>(utlum));
    for (int64_t i = utlum; i < zni; ++i) {
        const double x = static_cast<double>(i - utlum) / static_cast<double>(dozvuk);
        const double zisk = 1.0 - x * x * (3.0 - 2.0 * x);
        zkraceny[i] = static_cast<int16_t>(segment[i] * zisk);
    }
    return static_cast<int>(zni);
}

// A side's gain in 15 fractional bits, by which the add scales each sample
// (rounded to the nearest) as it goes in: in integers, so the loop
// vectorises and gives the same samples everywhere. 2^15: as they are (a
// gain that rounds to 1 too).
int32_t Mix::zeslabeni(double zisk) {
    if (zisk >= 1.0) return 32768;
    return std::min<int32_t>(32768, static_cast<int32_t>(zisk * 32768.0 + 0.5));
}

void Mix::nastavzaznam(Zaznammixu* zaznam) {
    zaznam_ = zaznam;
    oknood_ = zaznam ? zaznam->od : 0;
    oknopo_ = zaznam ? zaznam->po : INT64_MAX;
}

void Mix::zaznamenej(Rejstriky& rejstriky, int64_t start, int64_t k, int sila, int64_t utlum, int64_t zni,
                     const Smycka* smycka) {
    Vstupmixu v;
    v.start = start;
    v.utlum = utlum;
    v.zni = zni;
    v.zvuk = rejstriky.soucet(k);
    v.segment = static_cast<int32_t>(k);
    v.sila = sila;
    if (smycka) v.smycka = *smycka;
    zaznam_->vstupy.push_back(v);
    if (zaznam_->zvuky && zaznam_->zvuky->find(v.zvuk) == zaznam_->zvuky->end()) {
        const int16_t* vzorky = rejstriky.segment(k);
        Segmentzvuku& z = (*zaznam_->zvuky)[v.zvuk];
        z.vzorky.assign(vzorky, vzorky + delkatonu);
        z.vrchol = rejstriky.vrchol(k);
    }
}

void Mix::mixuj(Rejstriky& rejstriky, int64_t start, int64_t k, int sila, int64_t utlum, int64_t zni,
                const Smycka* smycka, double zisk) {
    const int16_t* segment = rejstriky.segment(k);
    if (zaznam_) zaznamenej(rejstriky, start, k, sila, utlum, zni, smycka && zni > delkatonu ? smycka : nullptr);
    mixuj(segment, rejstriky.vrchol(k), start, sila, utlum, zni, smycka, zisk);
}

void Mix::mixuj(const int16_t* segment, int32_t vrchol, int64_t start, int sila, int64_t utlum, int64_t zni,
                const Smycka* smycka, double zisk) {
    // A note wholly outside the stretch made adds nothing here.
    const bool vokne = start < oknopo_ && start + zni > oknood_;
    if (smycka && zni > delkatonu) {
        // A note longer than its segment: its samples are made a segment's
        // worth at a time, through the loop.
        if (vokne && int64_t{vrchol} * sila >= 100) {
            for (int64_t od = 0; od < zni; od += delkatonu) {
                const int kus = static_cast<int>(std::min<int64_t>(delkatonu, zni - od));
                if (start + od >= oknopo_ || start + od + kus <= oknood_) continue;
                vzorkysmycky(segment, *smycka, od, kus, utlum, zni, bloky_->zkraceny);
                pridejsegment(start + od, bloky_->zkraceny, kus, sila, zeslabeni(zisk));
            }
        }
        if (start + zni > vysledek_.konecmixu) vysledek_.konecmixu = start + zni;
        return;
    }
    const bool cely = utlum >= zni;
    // A segment that adds nothing at this volume (a rest, a silent note)
    // changes no sum and no peak: it only makes the mix longer, which the
    // final flush makes of the file.
    if (vokne && int64_t{vrchol} * sila >= 100) {
        const int count = cely ? static_cast<int>(zni) : zkratsegment(segment, utlum, zni);
        pridejsegment(start, cely ? segment : bloky_->zkraceny, count, sila, zeslabeni(zisk));
    }
    if (start + zni > vysledek_.konecmixu) vysledek_.konecmixu = start + zni;
}

// The sums of the stretch recorded, for the caller that keeps them.
void Mix::kopirujsumy() {
    zaznam_->vpameti = vpameti_;
    zaznam_->sumy.clear();
    if (!vpameti_) return;
    const int64_t konec = std::min(oknopo_, vysledek_.konecmixu);
    if (konec <= oknood_) return;
    zaznam_->sumy.assign(static_cast<size_t>(konec - oknood_), 0);
    for (int64_t vzorek = oknood_; vzorek < konec;) {
        const int64_t cislo = vzorek / vzorkubloku;
        const int od = static_cast<int>(vzorek % vzorkubloku);
        const int64_t kus = std::min<int64_t>(vzorkubloku - od, konec - vzorek);
        if (cislo < static_cast<int64_t>(pamet_.size()) && pamet_[cislo].sumy) {
            std::memcpy(zaznam_->sumy.data() + (vzorek - oknood_), pamet_[cislo].sumy + od,
                        static_cast<size_t>(kus) * 4);
        }
        vzorek += kus;
    }
}

void Mix::dopismix() {
    if (zaznam_) kopirujsumy();
    if (vpameti_) return;
    Blok* poradi[pocetbloku];
    int count = 0;
    for (Blok& b : blok_) {
        if (b.cislo >= 0) poradi[count++] = &b;
    }
    std::sort(poradi, poradi + count, [](const Blok* a, const Blok* b) { return a->cislo < b->cislo; });
    for (int i = 0; i < count; ++i) vyrad(*poradi[i]);

    // The mix ends where the segment that ends last ends, also when the last
    // sums were never written (they read as 0).
    const int64_t bajtu = bajtvzorku(vysledek_.konecmixu);
    if (delkamixu() < bajtu && !platform::nastavvelikost(osoubor_.fd(), bajtu)) {
        chybasouboruerrno("cannot extend the mix file", mixcesta_);
    }
}

int64_t Mix::delkamixu() {
    if (vpameti_) return bajtvzorku(vysledek_.konecmixu);
    const int64_t size = platform::velikost(osoubor_.fd());
    if (size < 0) chybasouboruerrno("cannot measure the mix file", mixcesta_);
    return size;
}

void Mix::smazmix() {
    if (!osoubor_.otevren()) return;
    // Removed and unmarked as one step: a signal in between must not remove
    // a file of the same name that another run has made since.
    platform::zadrzpreruseni();
    platform::smazsvuj(mixcesta_.c_str(), mixtotoznost_);
    platform::odznacdocasny(std::exchange(znacka_, -1));
    platform::pustpreruseni();
    osoubor_.zavri();
}

}  // namespace skladba
