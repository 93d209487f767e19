#include "notopis.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <unistd.h>

#include "proces.h"

namespace skladba::test {

namespace {

bool mame(const char* program) {
    return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

Beh prikaz(const std::string& slozka, std::vector<std::string> argumenty) {
    Prikaz p = vslozce(slozka);
    p.program = "/usr/bin/env";
    p.argumenty = std::move(argumenty);
    p.prostredi = {{"QT_QPA_PLATFORM", "offscreen"}};
    return spust(p);
}

// The schema, taken once per test program from MuseScore into a folder
// removed when the program ends.
struct Schema {
    std::string slozka =
        (std::filesystem::temp_directory_path() / ("skladba-schema-" + std::to_string(::getpid()))).string();
    std::string soubor;
    Schema() {
        if (prikaz(".", {"python3", SKLADBA_NOTOPIS_KONTROLA, "schema", slozka}).status == 0) {
            soubor = slozka + "/musicxml.xsd";
        }
    }
    ~Schema() {
        std::error_code ec;
        std::filesystem::remove_all(slozka, ec);
    }
};

std::string schema() {
    static Schema s;
    return s.soubor;
}

}  // namespace

bool jemusescore() { return mame("mscore3"); }

std::string chybynotopisu(const std::string& slozka, const std::vector<std::string>& soubory) {
    if (!mame("python3")) return "";
    std::vector<std::string> a = {"python3", SKLADBA_NOTOPIS_KONTROLA, "measures"};
    a.insert(a.end(), soubory.begin(), soubory.end());
    Beh r = prikaz(slozka, a);
    std::string chyby = r.status == 0 ? "" : r.out + r.err;
    if (jemusescore() && mame("xmllint") && !schema().empty()) {
        a = {"xmllint", "--nonet", "--noout", "--schema", schema()};
        a.insert(a.end(), soubory.begin(), soubory.end());
        r = prikaz(slozka, a);
        if (r.status != 0) chyby += r.err;
    }
    return chyby;
}

std::string chybytempa(const std::string& slozka, const std::string& nase, const std::string& jejich) {
    if (!mame("python3")) return "";
    const Beh r = prikaz(slozka, {"python3", SKLADBA_NOTOPIS_KONTROLA, "tempo", nase, jejich});
    return r.status == 0 ? "" : r.out + r.err;
}

std::string musescore(const std::string& slozka, const std::string& soubor, const std::string& vystup) {
    const Beh r = prikaz(slozka, {"mscore3", "-o", vystup, soubor});
    std::istringstream radky(r.out + r.err);
    std::string radek, chyby;
    while (std::getline(radky, radek)) {
        if (radek.find("Error at line") != std::string::npos || radek.find("not a valid") != std::string::npos ||
            radek.find("too many voices") != std::string::npos) {
            chyby += radek + "\n";
        }
    }
    if (r.status != 0) chyby += "mscore3 ended with status " + std::to_string(r.status) + "\n";
    return chyby;
}

size_t pocet(const std::string& text, const std::string& co) {
    size_t n = 0;
    for (size_t at = text.find(co); at != std::string::npos; at = text.find(co, at + co.size())) ++n;
    return n;
}

std::vector<int64_t> zacatkytaktu(const std::string& x) {
    auto cislo = [&](size_t od, const std::string& znacka) {
        const size_t a = x.find("<" + znacka + ">", od);
        return a == std::string::npos ? int64_t{0} : std::atoll(x.c_str() + a + znacka.size() + 2);
    };
    const int64_t deleni = cislo(0, "divisions");
    std::vector<int64_t> zacatky;
    if (deleni <= 0) return zacatky;
    const size_t konecparty = x.find("</part>");
    int64_t zacatek = 0;
    for (size_t m = x.find("<measure "); m < konecparty; m = x.find("<measure ", m + 1)) {
        const size_t konec = x.find("</measure>", m);
        int64_t pozice = 0, nejdal = 0;
        for (size_t at = x.find('<', m + 1); at < konec; at = x.find('<', at + 1)) {
            const std::string zbytek = x.substr(at, 10);
            const bool nota = zbytek.rfind("<note>", 0) == 0 || zbytek.rfind("<note ", 0) == 0,
                       vpred = zbytek.rfind("<forward>", 0) == 0,
                       zpet = zbytek.rfind("<backup>", 0) == 0;
            if (!nota && !vpred && !zpet) continue;
            const size_t po = x.find(nota ? "</note>" : vpred ? "</forward>" : "</backup>", at);
            const std::string telo = x.substr(at, po - at);
            if (telo.find("<chord/>") != std::string::npos || telo.find("<grace/>") != std::string::npos) continue;
            const int64_t d = cislo(at, "duration");
            pozice += zpet ? -d : d;
            nejdal = std::max(nejdal, pozice);
        }
        zacatky.push_back(zacatek * 960 / deleni);
        zacatek += nejdal;
    }
    zacatky.push_back(zacatek * 960 / deleni);
    return zacatky;
}

}  // namespace skladba::test
