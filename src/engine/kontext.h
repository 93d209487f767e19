// The context of one run: everything a score command works on. The engine
// state with the names the commands share, the score being read, the
// wavetable, the mix, and who is watching. Every command receives it; a run
// makes a fresh one and drops it at the end, so two runs never share a
// variable and nothing has to be reset between them.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "base/nota.h"
#include "base/stav.h"
#include "engine/pamatkrivky.h"
#include "engine/pozorovatel.h"
#include "score/ctenar.h"
#include "synth/mix.h"
#include "synth/rejstrik.h"

namespace skladba {

struct Kontext {
    explicit Kontext(const Meze& m = Meze{}) : meze(m), mix(meze) {
        rejstriky.rozpocet().celkem = static_cast<int64_t>(meze.pametmixu);
        mix.nastavrozpocet(&rejstriky.rozpocet());
    }
    Kontext(const Kontext&) = delete;
    Kontext& operator=(const Kontext&) = delete;

    Stav stav;
    Pocty pocty;             // what the run counts against meze
    // With a release (--release), in samples: each note sounds for its own
    // value and the dots after it, then fades out over this many samples.
    // 0: every note rings for its whole segment.
    int64_t dozvuk = 0;
    Meze meze;
    Partitura isoubor;       // the score
    Rejstriky rejstriky;     // the wavetable and where registers are found
    Mix mix;
    // --master: the right channel; mix is then the left one. Every note goes
    // into both, each side at its voice's constant-power gain.
    std::unique_ptr<Mix> pravy;
    // Where each note stands in the stereo field, by its index in the music
    // as written (Hudba::udalosti): -1 left to 1 right. A note past the end
    // stands in the centre.
    std::vector<double> polohy;
    // The left and right gains of note udalost: cos and sin of an angle from
    // 0 (left) to a quarter turn (right), so that its power is the same
    // wherever it stands.
    std::pair<double, double> zisky(int64_t udalost) const {
        const double p = udalost >= 0 && static_cast<size_t>(udalost) < polohy.size() ? polohy[udalost] : 0.0;
        const double uhel = (p + 1.0) * std::atan(1.0);
        return {std::cos(uhel), std::sin(uhel)};
    }

    Pozorovatel* pozorovatel = nullptr;
    SledovaniNoty sledovaninoty;
    // Tempo curve stretches computed by earlier runs of the score (null:
    // each is computed).
    Pamatkrivky* krivky = nullptr;
    // When false, notes are placed, checked and reported but not mixed: the
    // check of a score renders nothing.
    bool mixovat = true;
    // Notes, rests and dots placed so far: the next one's index in the
    // music as written (Hudba::udalosti).
    int64_t udalosti = 0;
    // Notes not mixed (Nastaveni::vynechat): placed as any other, at no
    // volume.
    std::vector<bool> vynechat;
    bool vynechana(int64_t udalost) const {
        return udalost >= 0 && static_cast<size_t>(udalost) < vynechat.size() && vynechat[static_cast<size_t>(udalost)];
    }

    // Registers named since the last note or rest, the default one first,
    // each at most once: loaded only when a note or rest needs the
    // wavetable, so that a folder holding just the registers a score plays
    // is enough. pozice is the "R" command's, -1 for the default register.
    struct CekajiciRejstrik {
        char reg = '1';
        int64_t pozice = -1;
    };
    std::vector<CekajiciRejstrik> cekajicirejstriky;

    // The last note or rest placed, until the dots after it are read and it
    // is known how long it sounds.
    struct Odlozena {
        bool je = false;
        Nota nota;
        int64_t kurzor = 0;   // the time cursor where it and its dots end
    } odlozena;
};

}  // namespace skladba
