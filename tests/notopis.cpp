#include "notopis.h"

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

}  // namespace skladba::test
