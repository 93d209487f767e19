// File names, the one way: where a path's extension begins and the name
// without its folder and extension, for titles and the names of outputs.
#pragma once

#include <string>

namespace skladba {

// Where the extension of the path's last part begins (its dot), or the
// path's size when it has none; a leading dot ("songs/.hidden") begins none.
inline size_t zacatekpripony(const std::string& cesta) {
    const size_t lomitko = cesta.rfind('/');
    const size_t jmeno = lomitko == std::string::npos ? 0 : lomitko + 1;
    const size_t tecka = cesta.rfind('.');
    return tecka != std::string::npos && tecka > jmeno ? tecka : cesta.size();
}

// "songs/kanon.txt" is "kanon".
inline std::string jmenobezpripony(const std::string& cesta) {
    const size_t lomitko = cesta.rfind('/');
    const size_t od = lomitko == std::string::npos ? 0 : lomitko + 1;
    return cesta.substr(od, zacatekpripony(cesta) - od);
}

}  // namespace skladba
