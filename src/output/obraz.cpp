#include "output/obraz.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "base/format.h"
#include "output/midi.h"
#include "output/xml.h"

namespace skladba {

namespace {

constexpr double vlevo = 64;       // room for the pitch labels
constexpr double vpravo = 24;
constexpr double nahore = 64;      // title and legend
constexpr double radek = 8;        // pixels per semitone
constexpr double vlna = 72;        // height of the waveform
constexpr double pixelusekundu = 40;
constexpr double nejmensisirka = 640;
constexpr double nejvetsisirka = 16000;
// Notes beyond this many carry no tooltip, to keep a long piece small.
constexpr size_t nejvicpopisku = 4000;

const char* const barvy[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e",
                             "#8c564b", "#e377c2", "#17becf", "#bcbd22", "#7f7f7f"};
constexpr int pocetbarev = sizeof barvy / sizeof barvy[0];

std::string formatuj(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string formatuj(const char* fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

std::string cas(double sekund, bool setiny) {
    const int minut = static_cast<int>(sekund / 60);
    return setiny ? popiscasu(sekund, 2) : formatuj("%d:%02d", minut, static_cast<int>(sekund) % 60);
}

// A segment in the score's own names, for XML.
std::string ton(int segment) { return proxml(jmenotonu(segment)); }

bool cerna(int segment) {
    const int t = segment % 12;
    return t == 1 || t == 3 || t == 6 || t == 8 || t == 10;
}

}  // namespace

std::string kresliobraz(const Hudba& hudba, const Obalka& obalka, const PopisObrazu& popis) {
    std::vector<const Udalost*> noty;
    for (const Udalost& e : hudba.udalosti) {
        if (e.hraje()) noty.push_back(&e);
    }
    std::string cil;
    const double sekund = std::max(1.0, static_cast<double>(popis.vzorku) / zaklad);
    const double sirka = std::clamp(sekund * pixelusekundu, nejmensisirka, nejvetsisirka);
    const double naxsekundu = sirka / sekund;
    auto x = [&](int64_t vzorek) { return vlevo + static_cast<double>(vzorek) / zaklad * naxsekundu; };

    int nejnizsi = pocetsegmentu, nejvyssi = 0;
    std::vector<char> rejstriky;
    for (const Udalost* u : noty) {
        const Udalost& n = *u;
        nejnizsi = std::min<int>(nejnizsi, n.segment);
        nejvyssi = std::max<int>(nejvyssi, n.segment);
        if (std::find(rejstriky.begin(), rejstriky.end(), n.reg) == rejstriky.end()) rejstriky.push_back(n.reg);
    }
    if (noty.empty()) {
        nejnizsi = 24;   // an empty octave from middle C
        nejvyssi = 35;
    }
    // A little room above and below, whole semitones within the register.
    const int dolni = std::max(1, nejnizsi - 2);
    const int horni = std::min(pocetsegmentu - 1, nejvyssi + 2);
    auto y = [&](int segment) { return nahore + (horni - segment) * radek; };
    const double dole = y(dolni - 1);
    const double vlnanahore = dole + 16;
    const double stred = vlnanahore + vlna / 2;
    const double vyska = vlnanahore + vlna + 28;
    const double celasirka = vlevo + sirka + vpravo;
    const std::string nadpis = cas(static_cast<double>(popis.vzorku) / zaklad, true) + ", " + std::to_string(noty.size()) +
                               (noty.size() == 1 ? " note" : " notes");

    // The time axis as data, for a page that draws a playback cursor over
    // the picture: x of second 0, and pixels per second.
    cil.append(formatuj("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
              "font-family=\"sans-serif\" font-size=\"11\" data-x0=\"%.0f\" data-px-per-s=\"%.6f\">\n",
              celasirka, vyska, celasirka, vyska, vlevo, naxsekundu));
    cil.append("<title>" + proxml(popis.nazev) + ": " + nadpis + "</title>\n<style>\n");
    for (size_t i = 0; i < rejstriky.size(); ++i) cil.append(formatuj(".r%zu{fill:%s}\n", i, barvy[i % pocetbarev]));
    for (int v = 1; v <= 8; ++v) cil.append(formatuj(".v%d{fill-opacity:%.1f}\n", v, 0.2 + 0.1 * v));
    cil.append(".t{fill-opacity:.13}\ntext{fill:#333}\n</style>\n");
    cil.append(formatuj("<rect width=\"%.0f\" height=\"%.0f\" fill=\"#fff\"/>\n", celasirka, vyska));
    cil.append(formatuj("<text x=\"%.0f\" y=\"26\" font-size=\"16\"><tspan font-weight=\"bold\">", vlevo) + proxml(popis.nazev) +
            "</tspan>  " + nadpis + "</text>\n");

    // The legend: one swatch per register.
    for (size_t i = 0; i < rejstriky.size(); ++i) {
        const double lx = vlevo + 72.0 * static_cast<double>(i);
        cil.append(formatuj("<rect class=\"r%zu\" x=\"%.0f\" y=\"38\" width=\"12\" height=\"12\"/>"
                  "<text x=\"%.0f\" y=\"48\">",
                  i, lx, lx + 16) +
                proxml(jmenorejstriku(rejstriky[i])) + "</text>\n");
    }

    // The keyboard: black keys shaded, a line and a label at every c.
    cil.append("<g id=\"keys\">\n<path fill=\"#f2f2f2\" d=\"");
    for (int s = dolni; s <= horni; ++s) {
        if (cerna(s)) cil.append(formatuj("M%.0f %.0fh%.1fv%.0fh-%.1fz", vlevo, y(s), sirka, radek, sirka));
    }
    cil.append("\"/>\n<path stroke=\"#c8c8c8\" d=\"");
    for (int s = dolni; s <= horni; ++s) {
        if (s % 12 == 0) cil.append(formatuj("M%.0f %.0fh%.1f", vlevo, y(s) + radek, sirka));
    }
    cil.append("\"/>\n");
    for (int s = dolni; s <= horni; ++s) {
        if (s % 12 == 0) cil.append(formatuj("<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"end\">", vlevo - 6, y(s) + radek) +
                                 ton(s) + "</text>\n");
    }
    cil.append(formatuj("<rect x=\"%.0f\" y=\"%.0f\" width=\"%.1f\" height=\"%.0f\" fill=\"none\" stroke=\"#999\"/>\n</g>\n",
              vlevo, nahore, sirka, dole - nahore));

    // Time: a line and a label every so many seconds, at least 70 pixels apart.
    static const int kroky[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
    int krok = 3600;
    for (int k : kroky) {
        if (k * naxsekundu >= 70) {
            krok = k;
            break;
        }
    }
    // With bar lines the seconds keep only their labels: the bars and beats
    // are the lines to read the music by.
    cil.append("<g id=\"time\">\n<path stroke=\"#e4e4e4\" d=\"");
    if (popis.takty.empty()) {
        for (int s = krok; s < sekund; s += krok) cil.append(formatuj("M%.1f %.0fV%.0f", vlevo + s * naxsekundu, nahore, dole));
    }
    cil.append("\"/>\n");
    for (int s = 0; s <= sekund; s += krok) {
        cil.append(formatuj("<text x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\">", vlevo + s * naxsekundu, vyska - 8) +
                cas(s, false) + "</text>\n");
    }
    cil.append("</g>\n");

    // Bars and beats: a faint line at each beat, a darker one at each bar
    // line, numbered where there is room.
    if (!popis.takty.empty() || !popis.doby.empty()) {
        auto tx = [&](double s) { return vlevo + s * naxsekundu; };
        cil.append("<g id=\"bars\">\n<path stroke=\"#eeeeee\" d=\"");
        for (double s : popis.doby) cil.append(formatuj("M%.1f %.0fV%.0f", tx(s), nahore, dole));
        cil.append("\"/>\n<path stroke=\"#b0b0b0\" d=\"");
        for (double s : popis.takty) cil.append(formatuj("M%.1f %.0fV%.0f", tx(s), nahore, dole));
        cil.append("\"/>\n");
        double posledni = -1e9;
        for (size_t i = 0; i < popis.takty.size(); ++i) {
            const double bx = tx(popis.takty[i]);
            if (bx - posledni < 28) continue;
            posledni = bx;
            cil.append(formatuj("<text x=\"%.1f\" y=\"%.0f\" font-size=\"9\">%zu</text>\n", bx + 2, nahore - 4,
                                i + static_cast<size_t>(std::max(1, popis.prvnitakt))));
        }
        cil.append("</g>\n");
    }

    if (noty.empty()) {
        cil.append(formatuj("<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\" font-size=\"14\">no notes</text>\n",
                  vlevo + sirka / 2, (nahore + dole) / 2 + 5));
    }

    // Tails: from the end of each note's value to where it stops sounding
    // (the rest of its four seconds; with a release, its dots and fade), one
    // path per register, so that tails that overlap do not darken one
    // another.
    cil.append("<g id=\"tails\">\n");
    for (size_t i = 0; i < rejstriky.size(); ++i) {
        cil.append(formatuj("<path class=\"r%zu t\" d=\"", i));
        for (const Udalost* u : noty) {
        const Udalost& n = *u;
            const int64_t hodnota = std::max<int64_t>(n.krok, 0);
            if (n.reg != rejstriky[i] || hodnota >= n.zni) continue;
            const double x0 = x(n.start + hodnota);
            const double delka = x(n.start + n.zni) - x0;
            cil.append(formatuj("M%.1f %.0fh%.1fv%.0fh-%.1fz", x0, y(n.segment), delka, radek, delka));
        }
        cil.append("\"/>\n");
    }
    cil.append("</g>\n");

    // The notes: one bar each, from its start for its value.
    cil.append("<g id=\"notes\">\n");
    const bool popisky = noty.size() <= nejvicpopisku;
    for (const Udalost* u : noty) {
        const Udalost& n = *u;
        const size_t r = static_cast<size_t>(std::find(rejstriky.begin(), rejstriky.end(), n.reg) - rejstriky.begin());
        const int v = (rychlostmidi(n.sila) + 15) / 16;
        // A pixel of air at the end, so that repeated notes of one pitch
        // stay apart where there is room for it.
        const double delka = x(n.start + n.krok) - x(n.start);
        const double sirkanoty = std::max(1.0, delka > 3 ? delka - 1 : delka);
        cil.append(formatuj("<rect class=\"r%zu v%d\" x=\"%.1f\" y=\"%.0f\" width=\"%.1f\" height=\"%.0f\"", r, v, x(n.start),
                  y(n.segment) + 0.5, sirkanoty, radek - 1));
        if (popisky) {
            cil.append("><title>" + ton(n.segment) + ", " + cas(static_cast<double>(n.start) / zaklad, true) + ", " +
                    proxml(jmenorejstriku(n.reg)) + formatuj(", volume %d%%</title></rect>\n", n.sila));
        } else {
            cil.append("/>\n");
        }
    }
    cil.append("</g>\n");

    // The waveform: highest samples left to right, lowest back.
    cil.append("<g id=\"waveform\">\n");
    cil.append(formatuj("<path stroke=\"#ddd\" d=\"M%.0f %.1fh%.1f\"/>\n", vlevo, stred, sirka));
    if (obalka.celkem() > 0) {
        // Column s, centred in the samples it gathers.
        const double delka = x(obalka.celkem()) - vlevo;
        auto sx = [&](int s) { return vlevo + (s + 0.5) / Obalka::sloupcu * delka; };
        const int sloupcu = Obalka::sloupcu;
        const double meritko = vlna / 2 / 32768.0;
        cil.append("<path fill=\"#555\" d=\"M");
        for (int s = 0; s < sloupcu; ++s) cil.append(formatuj("%.1f %.1f ", sx(s), stred - obalka.max(s) * meritko));
        for (int s = sloupcu - 1; s >= 0; --s) cil.append(formatuj("%.1f %.1f ", sx(s), stred - obalka.min(s) * meritko + 0.5));
        cil.append("z\"/>\n");
    }
    cil.append("</g>\n</svg>\n");
    return cil;
}

}  // namespace skladba
