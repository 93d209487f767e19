#include "base/moznosti.h"

#include <algorithm>

namespace skladba {

namespace {

const Tvar* najdi(const std::vector<Tvar>& tvary, const std::string& dlouha, char kratka) {
    for (const Tvar& t : tvary) {
        if (kratka == 0 ? dlouha == t.dlouha : t.kratka != 0 && t.kratka == kratka) return &t;
    }
    return nullptr;
}

}  // namespace

bool roztrid(int argc, char** argv, const std::vector<Tvar>& tvary, std::vector<std::string>& operandy,
             std::vector<Zadana>& zadane, std::string& chyba) {
    bool konecvoleb = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (konecvoleb || arg == "-" || arg.size() < 2 || arg[0] != '-') {
            operandy.push_back(arg);
            continue;
        }
        if (arg == "--") {
            konecvoleb = true;
            continue;
        }
        const Tvar* m = nullptr;
        std::string hodnota;
        bool mahodnotu = false;
        if (arg[1] == '-') {
            const size_t rovno = arg.find('=');
            const std::string jmeno = arg.substr(2, rovno == std::string::npos ? std::string::npos : rovno - 2);
            m = najdi(tvary, jmeno, 0);
            if (!m) {
                chyba = "unknown option '" + arg + "'";
                return false;
            }
            if (rovno != std::string::npos) {
                if (!m->hodnota) {
                    chyba = "option '--" + jmeno + "' takes no value";
                    return false;
                }
                hodnota = arg.substr(rovno + 1);
                mahodnotu = true;
            }
        } else {
            m = najdi(tvary, "", arg[1]);
            if (!m || (arg.size() > 2 && !m->hodnota)) {
                chyba = "unknown option '" + arg + "'";
                return false;
            }
            if (arg.size() > 2) {
                hodnota = arg.substr(2);
                mahodnotu = true;
            }
        }
        if (m->hodnota && !mahodnotu) {
            if (i + 1 == argc) {
                chyba = "option '" + arg + "' needs a value";
                return false;
            }
            hodnota = argv[++i];
        }
        if (m->hodnota && hodnota.empty()) {
            chyba = std::string("option '--") + m->dlouha + "' needs a value that is not empty";
            return false;
        }
        zadane.push_back({static_cast<size_t>(m - tvary.data()), hodnota});
    }
    return true;
}

bool celecislo(const std::string& text, int od, int po, int& cislo) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const long n = std::stol(text);
    if (n < od || n > po) return false;
    cislo = static_cast<int>(n);
    return true;
}

std::string popisdozvuku() {
    return "a whole number of milliseconds from " + std::to_string(nejkratsidozvuk) + " to " +
           std::to_string(nejdelsidozvuk);
}

bool seznamhlasu(const std::string& text, std::vector<int>& hlasy) {
    hlasy.clear();
    if (text.empty()) return true;
    for (size_t i = 0; i <= text.size();) {
        const size_t konec = std::min(text.find(',', i), text.size());
        int h = 0;
        if (hlasy.size() >= 1000 || !celecislo(text.substr(i, konec - i), 1, 999999, h)) return false;
        hlasy.push_back(h);
        i = konec + 1;
    }
    return true;
}

}  // namespace skladba
