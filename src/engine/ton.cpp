#include "engine/ton.h"

#include <algorithm>
#include <string>

#include "base/chyba.h"
#include "engine/cas.h"
#include "engine/nacteni.h"

namespace skladba {

void zvysoktavu(Stav& s) {
    if (s.oktava < 60) s.oktava += 12;
}

void snizoktavu(Stav& s) {
    if (s.oktava > 0) s.oktava -= 12;
}

int nahodne(Stav& s) {
    s.nahoda = s.nahoda * 214013u + 2531011u;
    return static_cast<int>((s.nahoda >> 16) & 0x7FFF);
}

Zneni zneni(int64_t delka, int64_t dozvuk, bool smycka) {
    if (dozvuk > 0 && smycka && delka + dozvuk > delkatonu) return {delka, delka + dozvuk};
    if (dozvuk <= 0 || delka >= delkatonu) return {delkatonu, delkatonu};
    return {delka, std::min<int64_t>(delka + dozvuk, delkatonu)};
}

namespace {

// Without an explicit octave, a step to a letter that lies nearer across the
// octave boundary moves the octave with it.
void relativnioktava(Stav& s, char z) {
    switch (s.minton) {
        case 'a':
            if (z == 'c') zvysoktavu(s);
            break;
        case 'h':
            if (z == 'c' || z == 'd') zvysoktavu(s);
            break;
        case 'd':
            if (z == 'h') snizoktavu(s);
            break;
        case 'c':
            if (z == 'h' || z == 'a') snizoktavu(s);
            break;
        default:
            break;
    }
}

// Random start offset once polyphony has been used, so that voices written
// over one another do not start with machine precision.
int64_t posunstartu(Stav& s) {
    if (s.synchro < 1) return 0;
    const int r = nahodne(s);
    const int span = synchrotempo * 2 / s.synchro;
    const int half = synchrotempo / s.synchro;
    if (span == 0) return 0;   // a setting this large leaves no jitter at all
    int64_t j = r % span - half;
    if (s.hodnota > 4) j = j * 4 / s.hodnota;   // short notes: proportionally less
    return j;
}

// Whether segment k of the loaded registers is all zero (never where no
// registers are loaded, as in a check without them).
bool jeticho(Rejstriky& r, int64_t k) {
    if (!r.maslozku()) return false;
    r.segment(k);
    return r.vrchol(k) == 0;
}

// Charges the samples a note adds to the mix to the run's budget, in a
// check as in a render, so that both refuse the same score. What adds
// nothing at its volume (a rest, a silent segment) costs nothing, as in the
// mix; a check without registers counts every note.
void zauctujnotu(Kontext& k, int64_t segment, int sila, int64_t vzorku) {
    Rejstriky& r = k.rejstriky;
    if (r.maslozku()) {
        r.segment(segment);
        if (int64_t{r.vrchol(segment)} * sila < 100) return;
    } else if (segment == 0) {
        return;
    }
    k.pocty.vzorkunot += static_cast<uint64_t>(vzorku);
    if (k.pocty.vzorkunot > k.meze.vzorkunot) {
        chybapartitury("score too costly to mix: its notes would add more than " + std::to_string(k.meze.vzorkunot) +
                       " samples into the mix (some " + std::to_string(k.meze.vzorkunot / delkatonu) +
                       " notes of four seconds)");
    }
}

// A note whose length is known: how long it sounds follows, and with a
// release it is mixed now, cut to that.
void dokonci(Kontext& k, Nota& n) {
    Rejstriky& r = k.rejstriky;
    const Smycka* smycka = k.dozvuk > 0 && r.maslozku() && n.segment > 0 ? r.smycka(n.segment) : nullptr;
    const Zneni z = zneni(n.delka, k.dozvuk, smycka != nullptr);
    n.utlum = z.utlum;
    n.zni = z.zni;
    n.smycka = smycka != nullptr;
    // How long its register really sounds it, for the warning about a note
    // that outlasts its sound: its whole value when it loops.
    if (r.maslozku() && n.segment > 0 && !n.tecka && n.delka > zaklad) {
        n.zvuk = n.zni > delkatonu ? n.zni : r.koneczvuku(n.segment);
    }
    if (n.start + n.zni > k.meze.skladba) chybaprilisdlouha(k.meze);
    if (k.dozvuk > 0) zauctujnotu(k, n.segment, n.sila, n.zni);
    if (k.mixovat && k.dozvuk > 0) {
        k.mix.mixuj(r, n.start, n.segment, k.vynechana(n.udalost) ? 0 : n.sila, n.utlum, n.zni, smycka);
    }
    if (k.pozorovatel) k.pozorovatel->hotova(n);
}

// Without a release a note is mixed at once for its whole segment. With one,
// it is held back until the next note, register change or the end of the
// score shows how long it sounds: its own step and those of the dots right
// after it. Either way it is complete, for whoever watches, only then.
void uloz(Kontext& k, char znak, bool tecka) {
    nactirejstriky(k);
    Stav& s = k.stav;
    if (s.zmenaoktavy == 0) relativnioktava(s, znak);
    const int letter = cislopismene(znak);
    const int64_t seg = letter > 0 ? int64_t{s.oktava} + letter + s.posuvky + s.transpose - 1 : 0;
    if (seg < 0 || seg >= pocetsegmentu) {
        chybapartitury("note out of the register's range: segment index " + std::to_string(seg) +
                       " (the register holds 0 to " + std::to_string(pocetsegmentu - 1) + ")");
    }

    const int64_t j = posunstartu(s);
    const int64_t start = (j < 0 ? -j : j) < s.momcas ? s.momcas + j : s.momcas;
    if (start + delkatonu > k.meze.skladba) chybaprilisdlouha(k.meze);

    if (k.dozvuk == 0) zauctujnotu(k, seg, s.sila, delkatonu);
    if (k.sledovaninoty) k.sledovaninoty({start, seg, s.sila, s.reg, k.rejstriky.segment(seg)});
    // A note left out is mixed at no volume: it adds nothing, and the mix
    // still ends where its segment ends.
    if (k.mixovat && k.dozvuk == 0) k.mix.mixuj(k.rejstriky, start, seg, k.vynechana(k.udalosti) ? 0 : s.sila);

    const int64_t kurzor = s.momcas;
    krokvpred(k);
    Nota n;
    n.start = start;
    n.krok = s.momcas - kurzor;
    n.delka = n.krok;
    n.pozice = s.pozicepovelu;
    n.po = k.isoubor.pozice();
    n.segment = static_cast<uint8_t>(seg);
    n.sila = static_cast<uint8_t>(s.sila);
    n.reg = s.reg;
    n.tecka = tecka;
    // The dot rule: a dot right after a note or rest lengthens it; after a
    // step back, or once a register change completed it, it lengthens
    // nothing and is a rest of its own.
    const bool prodlouzila = tecka && k.odlozena.je && k.odlozena.kurzor == kurzor;
    if (prodlouzila) {
        k.odlozena.nota.delka += n.krok;
        k.odlozena.nota.po = n.po;
        k.odlozena.kurzor = s.momcas;
    } else if (!tecka) {
        doznej(k);
    }
    n.udalost = k.udalosti++;
    if (k.pozorovatel) {
        UlozenaNota u;
        u.nota = n;
        u.kurzor = kurzor;
        u.hodnota = s.hodnota;
        u.celatempa = s.tempo;
        u.krivka = s.ritard != 0.0;
        u.pismeno = letter > 0;
        u.prodlouzila = prodlouzila;
        u.znak = letter > 0 ? znak : 'p';
        u.oktava = s.zmenaoktavy != 0;
        u.posuvky = s.posuvky;
        u.transpozice = s.transpose;
        u.ritard = s.ritard;
        u.ticho = letter > 0 && seg > 0 && jeticho(k.rejstriky, seg);
        k.pozorovatel->nota(u);
    }
    if (tecka) {
        dokonci(k, n);
    } else {
        k.odlozena = {true, n, s.momcas};
    }
    s.posuvky = 0;
    s.zmenaoktavy = 0;
    if (seg > 0) {
        s.minton = znak;
        ++k.pocty.pocetnot;
    }
}

}  // namespace

void ulozton(Kontext& k, const Parametr& a) { uloz(k, a.prikaz, false); }

void prikaztecka(Kontext& k, const Parametr& a) {
    Stav& s = k.stav;
    s.hodnota = s.hodnota * 2;
    uloz(k, a.prikaz, true);
    s.hodnota = s.hodnota / 2;
}

void doznej(Kontext& k) {
    if (!k.odlozena.je) return;
    k.odlozena.je = false;
    dokonci(k, k.odlozena.nota);
}

}  // namespace skladba
