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

#include "serve/nastaveni.h"
#include "serve/uloziste.h"
#include "serve/vykreslovani.h"

namespace skladba {

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
