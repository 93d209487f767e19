#include "midi.h"

namespace skladba::test {

Midi prectimidi(const std::string& b) {
    auto cislo = [&](size_t at, int bajtu) {
        int64_t v = 0;
        for (int i = 0; i < bajtu; ++i) v = v << 8 | static_cast<uint8_t>(b.at(at + i));
        return v;
    };
    auto vlq = [&](size_t& at) {
        int64_t v = 0;
        uint8_t c = 0;
        do {
            c = static_cast<uint8_t>(b.at(at++));
            v = v << 7 | (c & 0x7F);
        } while (c & 0x80);
        return v;
    };
    Midi m;
    if (b.compare(0, 4, "MThd") != 0) return m;
    m.format = static_cast<int>(cislo(8, 2));
    m.deleni = static_cast<int>(cislo(12, 2));
    size_t at = 14;
    for (int64_t s = 0; s < cislo(10, 2); ++s) {
        m.cele = m.cele && b.substr(at, 4) == "MTrk";
        const size_t konec = at + 8 + static_cast<size_t>(cislo(at + 4, 4));
        at += 8;
        m.jmena.emplace_back();
        m.programy.push_back(-1);
        int64_t tik = 0;
        uint8_t st = 0;
        std::vector<std::pair<int, int64_t>> zaznene;   // key, start
        std::vector<int> rychlosti;
        while (at < konec) {
            tik += vlq(at);
            if (static_cast<uint8_t>(b.at(at)) & 0x80) st = static_cast<uint8_t>(b.at(at++));
            if (st == 0xFF) {
                const uint8_t typ = static_cast<uint8_t>(b.at(at++));
                const auto delka = static_cast<size_t>(vlq(at));
                if (typ == 0x03) m.jmena.back() = b.substr(at, delka);
                if (typ == 0x51) {
                    m.tempo = cislo(at, 3);
                    m.tempa.push_back({tik, m.tempo});
                }
                if (typ == 0x58) {
                    m.metrum = {static_cast<uint8_t>(b.at(at)), 1 << b.at(at + 1)};
                    m.metra.push_back({tik, m.metrum.first, m.metrum.second, static_cast<uint8_t>(b.at(at + 2))});
                }
                if (typ == 0x02) m.autor = b.substr(at, delka);
                if (typ == 0x06) m.znacky.push_back({tik, b.substr(at, delka)});
                at += delka;
                continue;
            }
            if (st == 0xF0 || st == 0xF7) {
                at += static_cast<size_t>(vlq(at));
                continue;
            }
            if ((st & 0xF0) == 0xC0) m.programy.back() = static_cast<uint8_t>(b.at(at));
            if ((st & 0xF0) == 0xC0 || (st & 0xF0) == 0xD0) {
                ++at;
                continue;
            }
            const int klavesa = static_cast<uint8_t>(b.at(at));
            const int rychlost = static_cast<uint8_t>(b.at(at + 1));
            at += 2;
            if ((st & 0xF0) == 0x90 && rychlost > 0) {
                zaznene.push_back({klavesa, tik});
                rychlosti.push_back(rychlost);
                continue;
            }
            if ((st & 0xF0) != 0x80 && (st & 0xF0) != 0x90) continue;
            for (size_t i = 0; i < zaznene.size(); ++i) {
                if (zaznene[i].first != klavesa) continue;
                m.noty.push_back({m.jmena.size() - 1, st & 0x0F, klavesa, rychlosti[i], zaznene[i].second,
                                  tik - zaznene[i].second});
                zaznene.erase(zaznene.begin() + static_cast<long>(i));
                rychlosti.erase(rychlosti.begin() + static_cast<long>(i));
                break;
            }
        }
        m.cele = m.cele && b.substr(at - 3, 3) == std::string("\xFF\x2F\x00", 3);
        at = konec;
    }
    return m;
}

double Midi::ctvrtka(int64_t tik) const {
    int64_t us = 500000;
    for (const auto& [t, u] : tempa) {
        if (t <= tik) us = u;
    }
    return static_cast<double>(us) / 1e6;
}

double Midi::sekundy(int64_t tik) const {
    double s = 0;
    int64_t od = 0, us = 500000;
    for (const auto& [t, u] : tempa) {
        if (t >= tik) break;
        s += static_cast<double>(t - od) * static_cast<double>(us) / deleni / 1e6;
        od = t;
        us = u;
    }
    return s + static_cast<double>(tik - od) * static_cast<double>(us) / deleni / 1e6;
}

}  // namespace skladba::test
