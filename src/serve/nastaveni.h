// What the editor's server is started with: its address, the score's name,
// its key and the page's files; read by the server and its guard.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace skladba {

// The most a request may bring: a score of up to this size.
constexpr size_t nejvicbajtu = 1 << 20;

struct Souborstranky {
    std::string cesta;   // as the page asks for it: "/", "/skladba.js"
    std::string typ;     // its content type
    std::string obsah;
};

struct NastaveniServeru {
    std::string adresa = "127.0.0.1";   // where it listens
    int port = 0;                       // 0: any free port
    bool jinaadresa = false;            // --host: other machines may connect
    std::string jmeno;                  // the score, as the page names it
    std::string rejstriky;              // the register folder, for the register menu
    int dozvukms = 0;                   // what the page starts with
    bool varovani = true;
    std::string klic;                   // the key every request must carry
    std::vector<Souborstranky> stranka;
};

}  // namespace skladba
