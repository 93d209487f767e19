#include "score/smernice.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace skladba {

namespace {

const std::vector<KlicoveSlovo> slova = {
    {"title", DruhSmernice::nazev, "the title: the sheet music's, the MIDI file's track name, the tags"},
    {"composer", DruhSmernice::autor, "the composer: the sheet music's creator, the MIDI file's copyright, the artist tag"},
    {"time", DruhSmernice::metrum, "the metre from this bar on: N/D (3/4, 6/8, 2/2), beat groups optional (7/8 2+2+3)"},
    {"key", DruhSmernice::tonina, "the key signature from here on: a note and major or minor (E minor, Bb major)"},
    {"part", DruhSmernice::cast, "the notes written after it, until the next part:, belong to this instrument"},
    {"pan", DruhSmernice::pan, "where the part stands in stereo: -100 (left) to 100 (right), or left, centre, right"},
};

// Windows-1250 bytes 0x80 to 0xFF.
const uint16_t cp1250[128] = {
    0x20AC, 0xFFFD, 0x201A, 0xFFFD, 0x201E, 0x2026, 0x2020, 0x2021,
    0xFFFD, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9
};

void pridejutf8(std::string& s, uint32_t k) {
    if (k < 0x80) {
        s += static_cast<char>(k);
    } else if (k < 0x800) {
        s += static_cast<char>(0xC0 | k >> 6);
        s += static_cast<char>(0x80 | (k & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | k >> 12);
        s += static_cast<char>(0x80 | (k >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (k & 0x3F));
    }
}

bool jeutf8(const std::string& b) {
    for (size_t i = 0; i < b.size();) {
        const auto c = static_cast<unsigned char>(b[i]);
        size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
        if (n == 9 || (n > 0 && (c < 0xC2 || i + n >= b.size()))) return false;
        for (size_t k = 1; k <= n; ++k) {
            if ((static_cast<unsigned char>(b[i + k]) & 0xC0) != 0x80) return false;
        }
        i += n + 1;
    }
    return true;
}

bool mezera(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string maly(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Spaces collapsed to one, none at either end.
std::string sevri(const std::string& t) {
    std::string r;
    bool m = false;
    for (char c : t) {
        if (mezera(c)) {
            m = !r.empty();
            continue;
        }
        if (m) r += ' ';
        m = false;
        r += c;
    }
    return r;
}

// A whole number of digits from i, or -1.
int cislo(const std::string& t, size_t& i) {
    if (i >= t.size() || !std::isdigit(static_cast<unsigned char>(t[i]))) return -1;
    long n = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
        n = std::min<long>(n * 10 + (t[i] - '0'), 100000);
        ++i;
    }
    return static_cast<int>(n);
}

const char* const formymetra = "write time: N/D with N from 1 to 64 and D a power of two up to 64 (3/4, 6/8, 2/2), "
                               "optionally with beat groups that add up to N (7/8 2+2+3)";

void ctimetrum(Smernice& s) {
    const std::string& t = s.text;
    size_t i = 0;
    const int n = cislo(t, i);
    int d = -1;
    if (i < t.size() && t[i] == '/') {
        ++i;
        d = cislo(t, i);
    }
    if (n < 1 || n > 64 || d < 1 || d > 64 || (d & (d - 1)) != 0) {
        s.chyba = "\"" + t + "\" is no metre: " + formymetra;
        return;
    }
    while (i < t.size() && t[i] == ' ') ++i;
    if (i < t.size()) {
        int soucet = 0;
        for (;;) {
            const int g = cislo(t, i);
            if (g < 1) break;
            s.skupiny.push_back(g);
            soucet += g;
            if (i >= t.size() || t[i] != '+') break;
            ++i;
        }
        if (i < t.size() || soucet != n) {
            s.chyba = "\"" + t + "\": the beat groups must add up to " + std::to_string(n) + ": " + formymetra;
            s.skupiny.clear();
            return;
        }
    }
    s.citatel = n;
    s.jmenovatel = d;
}

const char* const formytoniny = "write key: a note A to G (H for B), with b, # or the signs for flat and sharp, "
                                "then major or minor (E minor, Bb major, F# minor)";

void ctitoninu(Smernice& s) {
    const std::string t = maly(s.text);
    static const int kvintypismen[] = {3, 5, 0, 2, 4, -1, 1, 5};   // a b c d e f g h
    size_t i = 0;
    if (t.empty() || t[0] < 'a' || t[0] > 'h') {
        s.chyba = "\"" + s.text + "\" is no key: " + formytoniny;
        return;
    }
    int k = kvintypismen[t[0] - 'a'];
    i = 1;
    auto je = [&](const char* x) { return t.compare(i, std::char_traits<char>::length(x), x) == 0; };
    if (je("#")) {
        k += 7, i += 1;
    } else if (je("\xE2\x99\xAF")) {   // ♯
        k += 7, i += 3;
    } else if (je("\xE2\x99\xAD")) {   // ♭
        k -= 7, i += 3;
    } else if (je("b") && (i + 1 == t.size() || t[i + 1] == ' ')) {
        k -= 7, i += 1;
    }
    while (i < t.size() && t[i] == ' ') ++i;
    const std::string lad = t.substr(i);
    if (lad == "minor" || lad == "moll") {
        s.moll = true;
        k -= 3;
    } else if (!(lad.empty() || lad == "major" || lad == "dur")) {
        s.chyba = "\"" + s.text + "\" is no key: " + formytoniny;
        return;
    }
    if (k < -7 || k > 7) {
        s.chyba = "\"" + s.text + "\" would need more than seven sharps or flats: write " +
                  texttoniny(k > 0 ? k - 12 : k + 12, s.moll) + ", which sounds the same";
        return;
    }
    s.kvinty = k;
}

void ctipan(Smernice& s) {
    const std::string t = maly(s.text);
    if (t == "left") {
        s.pan = -1;
    } else if (t == "right") {
        s.pan = 1;
    } else if (t == "centre" || t == "center") {
        s.pan = 0;
    } else {
        char* konec = nullptr;
        const double x = std::strtod(t.c_str(), &konec);
        if (t.empty() || *konec != '\0' || !(x >= -100 && x <= 100)) {
            s.chyba = "\"" + s.text + "\" is no place: write pan: a number from -100 (left) to 100 (right), or "
                      "left, centre or right";
            return;
        }
        s.pan = x / 100;
    }
}

}  // namespace

const std::vector<KlicoveSlovo>& klicovaslova() { return slova; }

std::string textkomentare(const std::string& b) {
    if (jeutf8(b)) return b;
    std::string r;
    for (size_t i = 0; i < b.size(); ++i) {
        const auto c = static_cast<unsigned char>(b[i]);
        if (i + 1 < b.size() && b[i + 1] == '\x01') {
            pridejutf8(r, 0x100 + c);
            ++i;
        } else if (c < 0x80) {
            r += static_cast<char>(c);
        } else {
            pridejutf8(r, cp1250[c - 0x80]);
        }
    }
    return r;
}

bool ctismernici(const std::string& komentar, Smernice& s) {
    s = Smernice{};
    size_t i = 0;
    while (i < komentar.size() && mezera(komentar[i])) ++i;
    const size_t zacatek = i;
    while (i < komentar.size() && std::isalpha(static_cast<unsigned char>(komentar[i]))) ++i;
    if (i == zacatek || i >= komentar.size() || komentar[i] != ':') return false;
    const std::string slovo = maly(komentar.substr(zacatek, i - zacatek));
    const KlicoveSlovo* k = nullptr;
    for (const KlicoveSlovo& x : slova) {
        if (slovo == x.slovo) k = &x;
    }
    if (!k) return false;
    s.druh = k->druh;
    s.odklice = zacatek;
    ++i;
    while (i < komentar.size() && mezera(komentar[i])) ++i;
    s.odhodnoty = i;
    s.text = sevri(textkomentare(komentar.substr(i)));
    if (s.text.empty()) {
        s.chyba = std::string("\"") + k->slovo + ":\" says nothing: " + k->popis;
        return true;
    }
    switch (s.druh) {
        case DruhSmernice::metrum: ctimetrum(s); break;
        case DruhSmernice::tonina: ctitoninu(s); break;
        case DruhSmernice::pan: ctipan(s); break;
        default: break;
    }
    return true;
}

std::string textmetra(int citatel, int jmenovatel, const std::vector<int>& skupiny) {
    std::string t = std::to_string(citatel) + "/" + std::to_string(jmenovatel);
    for (size_t i = 0; i < skupiny.size(); ++i) t += (i ? "+" : " ") + std::to_string(skupiny[i]);
    return t;
}

std::string texttoniny(int kvinty, bool moll) {
    // The tonic of a major key, by fifths from C flat (-7) to C sharp (7).
    static const char* const dur[] = {"C\xE2\x99\xAD", "G\xE2\x99\xAD", "D\xE2\x99\xAD", "A\xE2\x99\xAD",
                                      "E\xE2\x99\xAD", "B\xE2\x99\xAD", "F",            "C",
                                      "G",             "D",             "A",            "E",
                                      "B",             "F\xE2\x99\xAF", "C\xE2\x99\xAF"};
    static const char* const mol[] = {"A\xE2\x99\xAD", "E\xE2\x99\xAD", "B\xE2\x99\xAD", "F", "C", "G", "D", "A",
                                      "E", "B", "F\xE2\x99\xAF", "C\xE2\x99\xAF", "G\xE2\x99\xAF",
                                      "D\xE2\x99\xAF", "A\xE2\x99\xAF"};
    const int i = std::max(-7, std::min(7, kvinty)) + 7;
    return std::string(moll ? mol[i] : dur[i]) + (moll ? " minor" : " major");
}

}  // namespace skladba
