#include "base/chyba.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace skladba {

void chybapartitury(const std::string& what) { throw ChybaPartitury(what); }

void chybasouboru(const std::string& what) { throw ChybaSouboru(what); }

void chybasouboru(const std::string& action, const std::string& path, int err) {
    throw ChybaSouboru(action + " " + ukazjmeno(path) + ": " + popischyby(err));
}

void chybasouboruerrno(const std::string& action, const std::string& path) {
    chybasouboru(action, path, errno);
}

std::string ukazjmeno(const std::string& jmeno) {
    const auto ridici = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
    if (std::none_of(jmeno.begin(), jmeno.end(), [&](char c) { return ridici(static_cast<unsigned char>(c)); })) {
        return jmeno;
    }
    std::string o;
    bool vuvozovkach = false;
    for (const char z : jmeno) {
        const auto c = static_cast<unsigned char>(z);
        if (ridici(c)) {
            if (vuvozovkach) o += '\'';
            vuvozovkach = false;
            static const char* const jmena[] = {"\\a", "\\b", "\\t", "\\n", "\\v", "\\f", "\\r"};
            char buf[8];
            if (c >= 7 && c <= 13) std::snprintf(buf, sizeof buf, "%s", jmena[c - 7]);
            else std::snprintf(buf, sizeof buf, "\\%03o", c);
            o += std::string("$'") + buf + "'";
            continue;
        }
        if (!vuvozovkach) o += '\'';
        vuvozovkach = true;
        if (z == '\'') o += "'\\''";
        else o += z;
    }
    if (vuvozovkach) o += '\'';
    return o;
}

std::string popischyby(int err) { return std::generic_category().message(err); }

}  // namespace skladba
