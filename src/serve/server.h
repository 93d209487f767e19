// The editor's HTTP server: the page, the score, the renders and a stream
// of the score's versions, and nothing else.
//
// Its rules: every request carries the key the server made when it started
// (in the address it prints, ?token=KEY, and from then on in a cookie the
// page keeps), so that other accounts on the machine get nothing; it
// answers only requests addressed to itself (the Host header
// names its own address, so that a site whose name was pointed at this
// machine gets nothing) and never a page of another site (a foreign Origin
// or Sec-Fetch-Site); what changes the score must carry the editor's own
// header; only the page's files, the score and the renders are served,
// never another path; and a request may bring at most 1 MB. The guard
// (serve/straz.h) checks the first rules, the routes here the rest; the
// JSON answers are serve/json.h's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "serve/uloziste.h"
#include "serve/vykreslovani.h"

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

class Server {
public:
    Server(NastaveniServeru nastaveni, Uloziste& uloziste, Vykreslovani& vykreslovani);
    ~Server();
    // Opens the listening socket; false when it cannot.
    bool navaz();
    int port() const;
    // Serves until zastav is called (from another thread).
    void obsluhuj();
    void zastav();

private:
    struct Vnitrek;
    std::unique_ptr<Vnitrek> v_;
};

}  // namespace skladba
