#include "lsp/rozbor.h"

#include <algorithm>
#include <cctype>

#include "app/volby.h"
#include "base/chyba.h"
#include "engine/prikazy.h"
#include "output/vyroba.h"
#include "platform/system.h"
#include "score/smernice.h"

namespace skladba::lsp {

std::string klicoveslovo(const std::string& komentar) {
    Smernice s;
    if (!ctismernici(komentar, s)) return "";
    for (const KlicoveSlovo& k : klicovaslova()) {
        if (k.druh == s.druh) return k.slovo;
    }
    return "";
}

const Povel* Rozbor::povel(int64_t pozice) const {
    auto it = std::lower_bound(povely.begin(), povely.end(), pozice,
                               [](const Povel& p, int64_t x) { return p.pozice < x; });
    return it != povely.end() && it->pozice == pozice ? &*it : nullptr;
}

const Udalost* Rozbor::udalost(int64_t bajt) const {
    const std::vector<Udalost>& u = vysledek.hudba.udalosti;
    auto it = std::upper_bound(u.begin(), u.end(), bajt, [](int64_t x, const Udalost& e) { return x < e.pozice; });
    if (it == u.begin()) return nullptr;
    --it;
    return bajt < std::max(it->po, it->pozice + 1) ? &*it : nullptr;
}

std::shared_ptr<const Rozbor> rozeber(std::shared_ptr<const std::string> text, int64_t verze, const std::string& cesta,
                                      const std::string& rejstriky) {
    const double zacatek = platform::ted();
    auto r = std::make_shared<Rozbor>();
    r->verze = verze;
    r->text = text;
    r->cesta = cesta;
    // The files as `skladba --check FILE` chooses them: the registers beside
    // the score, then SKLADBA_REJSTRIKY, then the installed ones.
    Volby volby;
    volby.kontrola = true;
    volby.rejstriky = rejstriky;
    if (!cesta.empty()) volby.partitury = {cesta};
    Nastaveni n;
    bool cestyok = true;
    try {
        n.cesty = urcicesty(volby);
    } catch (const ChybaSouboru& e) {
        r->vysledek.status = 1;
        r->vysledek.zprava = e.what();
        cestyok = false;
    }
    if (cesta.empty()) n.cesty.jmenopartitury = "score";
    r->rejstriky = n.cesty.rejstriky;
    if (cestyok) {
        n.text = text.get();
        n.kontrola = true;
        n.varovani = true;
        n.hudba = true;
        r->vysledek = vyrobvpameti(n).vysledek;
    }
    // The commands as the check reads them, for the places and colours.
    Partitura p;
    p.otevritext(*text, n.cesty.jmenopartitury);
    int64_t dalsich = 0;
    zkontrolujpismo(p, syntaxe(), 0, dalsich, &r->povely);
    r->ms = (platform::ted() - zacatek) * 1000;
    return r;
}

}  // namespace skladba::lsp
