#include "score/jazyk.h"

namespace skladba {

int cislopismene(char letter) {
    switch (letter) {
        case 'c': return 1;
        case 'd': return 3;
        case 'e': return 5;
        case 'f': return 6;
        case 'g': return 8;
        case 'a': return 10;
        case 'h': return 12;
        default: return 0;
    }
}

int oktavapro(char c) {
    switch (c) {
        case 'v': return 0;
        case 'm': return 12;
        case '1': return 24;
        case '2': return 36;
        case '3': return 48;
        case '4': return 60;
        default: return -1;
    }
}

Parametr ctiparametr(Partitura& p, Argument a, int64_t& hloubka) {
    Parametr r;
    r.od = p.pozice();
    switch (a) {
        case Argument::zadny:
            break;
        case Argument::cislo:
            r.cislo = dejcislo(p, &r.zapsane);
            break;
        case Argument::hodnota:
            vratznak(p);   // the digit that chose the command is the number's first digit
            r.od = p.pozice();
            r.cislo = dejcislo(p, &r.zapsane);
            break;
        case Argument::oktava:
            r.znak = dejznak(p);
            r.oktava = oktavapro(r.znak);
            r.je = r.oktava >= 0;
            if (!r.je) vratznak(p);   // not an octave: left to the command loop
            break;
        case Argument::rejstrik:
            r.znak = dejznak(p);
            // A 0xFF byte inside the score names a register like any other
            // byte; only at the end of the score is there no character.
            r.je = !(r.znak == konecsouboru && p.konec());
            break;
        case Argument::zpet: {
            const char z = dejznak(p);
            r.pul = z == '.';
            if (!r.pul) {
                vratznak(p);
                if (jecislice(z)) {
                    r.je = true;
                    r.cislo = dejcislo(p, &r.zapsane);
                }
            }
            break;
        }
        case Argument::surovy: {
            // Read raw, since a zero byte here must not be skipped.
            const int b = dejsurovyznak(p);
            if (b < 0) break;   // the score ended: nothing to put back
            r.je = b == 0x01;
            // Anything else is put back, except a 0xFF byte, which is the
            // end marker's twin and never put back.
            if (!r.je) vratznak(p);
            break;
        }
        case Argument::komentar: {
            // The text of a comment that opens afresh is kept, as far as a
            // directive may need it.
            const bool text = ++hloubka == 1;
            char z = 0;
            do {
                z = dejznak(p);
                if (z == '(') ++hloubka;
                if (z == ')') --hloubka;
                if (text && hloubka != 0 && r.text.size() < nejdelsitext && !(z == konecsouboru && p.konec())) {
                    r.text += z;
                }
            } while (hloubka != 0 && z != konecsouboru);
            break;
        }
    }
    r.po = p.pozice();
    return r;
}

}  // namespace skladba
