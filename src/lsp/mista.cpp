#include "lsp/mista.h"

#include <algorithm>

namespace skladba::lsp {

namespace {

// The length of the UTF-8 sequence a lead byte starts (1 for a stray byte,
// which counts as one character, as a decoder's replacement does).
int delkasekvence(unsigned char b) {
    if (b >= 0xF0 && b <= 0xF4) return 4;
    if (b >= 0xE0) return b <= 0xEF ? 3 : 1;
    if (b >= 0xC2) return 2;
    return 1;
}

}  // namespace

Mista::Mista(const std::string& text, bool utf8) : text_(text), utf8_(utf8) {
    zacatky_.push_back(0);
    const int64_t n = static_cast<int64_t>(text.size());
    for (int64_t i = 0; i < n; ++i) {
        if (text[i] == '\n') {
            zacatky_.push_back(i + 1);
        } else if (text[i] == '\r') {
            if (i + 1 < n && text[i + 1] == '\n') ++i;
            zacatky_.push_back(i + 1);
        }
    }
}

int64_t Mista::radekbajtu(int64_t bajt) const {
    return static_cast<int64_t>(std::upper_bound(zacatky_.begin(), zacatky_.end(), bajt) - zacatky_.begin()) - 1;
}

int64_t Mista::konecradkuc(int64_t radek) const {
    const int64_t n = static_cast<int64_t>(text_.size());
    if (radek + 1 >= radku()) return n;
    int64_t k = zacatky_[static_cast<size_t>(radek + 1)];
    if (k > 0 && text_[static_cast<size_t>(k - 1)] == '\n') --k;
    if (k > 0 && text_[static_cast<size_t>(k - 1)] == '\r') --k;
    return k;
}

int64_t Mista::konecradku(int64_t bajt) const { return konecradkuc(radekbajtu(bajt)); }

int64_t Mista::zacatekradku(int64_t bajt) const { return zacatky_[static_cast<size_t>(radekbajtu(bajt))]; }

int64_t Mista::jednotek(int64_t od, int64_t po) const {
    if (utf8_) return std::max<int64_t>(0, po - od);
    int64_t u = 0;
    for (int64_t i = od; i < po;) {
        const int d = delkasekvence(static_cast<unsigned char>(text_[static_cast<size_t>(i)]));
        u += d == 4 ? 2 : 1;
        i += d;
    }
    return u;
}

Misto Mista::misto(int64_t bajt) const {
    bajt = std::clamp<int64_t>(bajt, 0, static_cast<int64_t>(text_.size()));
    const int64_t r = radekbajtu(bajt);
    const int64_t od = zacatky_[static_cast<size_t>(r)];
    return {r, jednotek(od, std::min(bajt, konecradkuc(r)))};
}

int64_t Mista::bajt(const Misto& m) const {
    if (m.radek < 0 || m.znak < 0 || m.radek >= radku()) return -1;
    const int64_t konec = konecradkuc(m.radek);
    int64_t i = zacatky_[static_cast<size_t>(m.radek)];
    for (int64_t u = 0; u < m.znak; ++i) {
        if (i >= konec) return -1;
        const int d = utf8_ ? 1 : delkasekvence(static_cast<unsigned char>(text_[static_cast<size_t>(i)]));
        u += d == 4 ? 2 : 1;
        i += d - 1;
    }
    return std::min(i, konec);
}

int64_t Mista::bajtomezeny(const Misto& m) const {
    if (m.radek >= radku()) return static_cast<int64_t>(text_.size());
    if (m.radek < 0) return 0;
    const int64_t b = bajt({m.radek, std::max<int64_t>(0, m.znak)});
    return b >= 0 ? b : konecradkuc(m.radek);
}

std::string platneutf8(const std::string& s) {
    std::string o;
    o.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int d = b < 0x80 ? 1 : delkasekvence(b);
        bool platny = b < 0x80 || (d > 1 && i + static_cast<size_t>(d) <= s.size());
        for (int k = 1; platny && k < d; ++k) {
            platny = (static_cast<unsigned char>(s[i + static_cast<size_t>(k)]) & 0xC0) == 0x80;
        }
        if (platny && d == 3) {
            const auto c = static_cast<unsigned char>(s[i + 1]);
            platny = !(b == 0xE0 && c < 0xA0) && !(b == 0xED && c >= 0xA0);
        }
        if (platny && d == 4) {
            const auto c = static_cast<unsigned char>(s[i + 1]);
            platny = !(b == 0xF0 && c < 0x90) && !(b == 0xF4 && c >= 0x90);
        }
        if (platny) {
            o.append(s, i, static_cast<size_t>(d));
            i += static_cast<size_t>(d);
        } else {
            o += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return o;
}

}  // namespace skladba::lsp
