// The waveform envelope of the WAV as it is converted: the lowest and
// highest sample in each of a fixed number of columns, so that its memory
// does not grow with the piece.
#pragma once

#include <cstdint>

namespace skladba {

class Obalka {
public:
    static constexpr int sloupcu = 2400;

    // A WAV of celkem samples is about to be converted.
    void zacni(int64_t celkem) {
        celkem_ = celkem;
        for (int i = 0; i < sloupcu; ++i) {
            min_[i] = 0;
            max_[i] = 0;
        }
    }
    // The samples from sample prvni on, as they go into the WAV.
    void pridej(int64_t prvni, const int16_t* vzorky, int pocet) {
        if (celkem_ <= 0) return;
        for (int i = 0; i < pocet; ++i) {
            const int s = static_cast<int>((prvni + i) * sloupcu / celkem_);
            if (vzorky[i] < min_[s]) min_[s] = vzorky[i];
            if (vzorky[i] > max_[s]) max_[s] = vzorky[i];
        }
    }

    int64_t celkem() const { return celkem_; }
    int16_t min(int s) const { return min_[s]; }
    int16_t max(int s) const { return max_[s]; }

private:
    int64_t celkem_ = 0;
    int16_t min_[sloupcu] = {};
    int16_t max_[sloupcu] = {};
};

}  // namespace skladba
