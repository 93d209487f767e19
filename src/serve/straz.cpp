#include "serve/straz.h"

#include <algorithm>
#include <cstdio>

#include "serve/prijem.h"
#include "serve/soustava.h"

namespace skladba {

namespace {

// Whether a and b are equal, in a time that does not tell how much of them is.
bool stejne(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char rozdil = 0;
    for (size_t i = 0; i < a.size(); ++i) rozdil |= static_cast<unsigned char>(a[i] ^ b[i]);
    return rozdil == 0;
}

// The value of the cookie jmeno in a Cookie header, empty without it.
std::string susenka(const std::string& hlavicka, const std::string& jmeno) {
    size_t i = 0;
    while (i < hlavicka.size()) {
        while (i < hlavicka.size() && (hlavicka[i] == ' ' || hlavicka[i] == ';')) ++i;
        const size_t konec = std::min(hlavicka.find(';', i), hlavicka.size());
        const std::string kus = hlavicka.substr(i, konec - i);
        if (kus.size() > jmeno.size() && kus.compare(0, jmeno.size(), jmeno) == 0 && kus[jmeno.size()] == '=') {
            return kus.substr(jmeno.size() + 1);
        }
        i = konec;
    }
    return "";
}

}  // namespace

// A header value fit to quote in a message.
std::string ukazka(const std::string& s) {
    std::string o;
    for (char c : s.substr(0, 80)) o += (c >= 0x20 && c < 0x7F) ? c : '?';
    return s.size() > 80 ? o + "..." : o;
}

void odmitni(const httplib::Request& q, httplib::Response& r, int status, const std::string& proc) {
    std::fprintf(stderr, "skladba serve: refused %s %s from %s: %s\n", q.method.c_str(), ukazka(q.path).c_str(),
                 q.remote_addr.c_str(), proc.c_str());
    r.status = status;
    r.set_header("Connection", "close");
    Prijem::zavripoodpovedi();
    r.set_content("skladba serve: refused: " + proc + "\n", "text/plain; charset=utf-8");
}

Straz::Straz(const NastaveniServeru& n) : n_(n), pocitac_(jmenopocitace()) {}

// The Host header names this server: its port, and an address that no
// other site's name can stand for (an address literal, localhost) or,
// with --host, the name given there or this machine's name.
bool Straz::svujhost(const std::string& host) const {
    const size_t dvojtecka = host.rfind(':');
    if (dvojtecka == std::string::npos || host.substr(dvojtecka + 1) != std::to_string(port_)) return false;
    std::string jmeno = host.substr(0, dvojtecka);
    if (jmeno.size() > 2 && jmeno.front() == '[' && jmeno.back() == ']') jmeno = jmeno.substr(1, jmeno.size() - 2);
    if (jmeno == "localhost" || jmeno == "127.0.0.1" || jmeno == "::1") return true;
    if (!n_.jinaadresa) return false;
    return jeadresa(jmeno) || jmeno == n_.adresa || (!pocitac_.empty() && (jmeno == pocitac_ || jmeno == pocitac_ + ".local"));
}

// The cookie that keeps the key: its name holds the port, as a browser
// sends the cookies of an address to each of its ports.
std::string Straz::jmenosusenky() const { return "skladba-" + std::to_string(port_); }

// The request carries the key: in the address (the page's first request,
// which then gets the cookie) or in the cookie.
bool Straz::maklic(const httplib::Request& q, httplib::Response& r) const {
    if (q.has_param("token") && stejne(q.get_param_value("token"), n_.klic)) {
        r.set_header("Set-Cookie", jmenosusenky() + "=" + n_.klic + "; Path=/; HttpOnly; SameSite=Strict");
        return true;
    }
    for (size_t i = 0, pocet = q.get_header_value_count("Cookie"); i < pocet; ++i) {
        if (stejne(susenka(q.get_header_value("Cookie", i), jmenosusenky()), n_.klic)) return true;
    }
    return false;
}

httplib::Server::HandlerResponse Straz::zkontroluj(const httplib::Request& q, httplib::Response& r) const {
    const std::string host = q.get_header_value("Host");
    if (!svujhost(host)) {
        odmitni(q, r, 403, "the request is addressed to \"" + ukazka(host) +
                               "\", not to this server (" + n_.adresa + ":" + std::to_string(port_) + ")");
        return httplib::Server::HandlerResponse::Handled;
    }
    if (!maklic(q, r)) {
        odmitni(q, r, 403, "the request does not carry this server's key: open the address skladba serve printed "
                           "(it ends in ?token=...)");
        return httplib::Server::HandlerResponse::Handled;
    }
    if (q.method == "POST" && q.get_header_value("Content-Type").compare(0, 10, "multipart/") == 0) {
        odmitni(q, r, 415, "send the score as application/octet-stream, not as a form");
        return httplib::Server::HandlerResponse::Handled;
    }
    if (q.has_header("Origin") && q.get_header_value("Origin") != "http://" + host) {
        odmitni(q, r, 403, "a page of another site (" + ukazka(q.get_header_value("Origin")) + ") may not use this server");
        return httplib::Server::HandlerResponse::Handled;
    }
    const std::string odkud = q.get_header_value("Sec-Fetch-Site");
    if (!odkud.empty() && odkud != "same-origin" && odkud != "none") {
        odmitni(q, r, 403, "a page of another site (Sec-Fetch-Site: " + ukazka(odkud) + ") may not use this server");
        return httplib::Server::HandlerResponse::Handled;
    }
    if (q.method != "GET" && q.method != "HEAD" && q.get_header_value("X-Skladba") != "1") {
        odmitni(q, r, 403, "only the editor's page may change the score");
        return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
}

}  // namespace skladba
