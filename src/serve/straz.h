// The editor server's guard: which requests it lets through to the routes.
// A request must be addressed to this server (its Host header), carry the
// server's key (in the address or the cookie the page keeps), come from no
// page of another site (Origin, Sec-Fetch-Site) and, when it changes
// something, carry the editor's own header.
#pragma once

#include <httplib.h>
#include <string>

#include "serve/nastaveni.h"

namespace skladba {

// A header value fit to quote in a message.
std::string ukazka(const std::string& s);

// Answers status with the reason, logs the refusal and closes the
// connection after the answer.
void odmitni(const httplib::Request& q, httplib::Response& r, int status, const std::string& proc);

class Straz {
public:
    explicit Straz(const NastaveniServeru& n);
    // The port the server listens on, once it is known.
    void naport(int port) { port_ = port; }
    // Handled: refused with an answer; Unhandled: let through.
    httplib::Server::HandlerResponse zkontroluj(const httplib::Request& q, httplib::Response& r) const;

private:
    bool svujhost(const std::string& host) const;
    std::string jmenosusenky() const;
    bool maklic(const httplib::Request& q, httplib::Response& r) const;

    const NastaveniServeru& n_;
    int port_ = 0;
    std::string pocitac_;
};

}  // namespace skladba
