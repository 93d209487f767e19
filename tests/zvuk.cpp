#include "zvuk.h"

#include <cstring>
#ifdef SKLADBA_HAVE_KODEK
#include <sndfile.h>
#endif

namespace skladba::test {

std::vector<int16_t> vzorkywav(const std::string& b) {
    std::vector<int16_t> v(b.size() > 44 ? (b.size() - 44) / 2 : 0);
    for (size_t i = 0; i < v.size(); ++i) {
        v[i] = static_cast<int16_t>(static_cast<unsigned char>(b[44 + 2 * i]) |
                                    static_cast<unsigned char>(b[45 + 2 * i]) << 8);
    }
    return v;
}

Dekodovany dekoduj(const std::string& cesta) {
    Dekodovany d;
#ifdef SKLADBA_HAVE_KODEK
    SF_INFO info{};
    SNDFILE* f = sf_open(cesta.c_str(), SFM_READ, &info);
    if (!f) return d;
    d.otevren = true;
    d.rate = info.samplerate;
    std::vector<int16_t> blok(4096);
    for (sf_count_t n; (n = sf_read_short(f, blok.data(), static_cast<sf_count_t>(blok.size()))) > 0;) {
        d.vzorky.insert(d.vzorky.end(), blok.begin(), blok.begin() + n);
    }
    if (const char* t = sf_get_string(f, SF_STR_TITLE)) d.nazev = t;
    if (const char* a = sf_get_string(f, SF_STR_ARTIST)) d.autor = a;
    sf_close(f);
#else
    (void)cesta;
#endif
    return d;
}

}  // namespace skladba::test
