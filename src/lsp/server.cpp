// The server's loop: messages in on standard input, one at a time; the
// documents the editor holds, by URI and version; one analysis of each
// version on a thread of its own, so that typing in a long score never
// waits for it, a version overtaken by a newer one before its analysis
// ends is dropped unseen.
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

#include "app/volby.h"
#include "base/nota.h"
#include "lsp/lsp.h"
#include "lsp/odpovedi.h"
#include "lsp/procesy.h"
#include "lsp/ramec.h"

#ifndef SKLADBA_VERSION
#define SKLADBA_VERSION "unknown"
#endif

namespace skladba::lsp {

namespace {

// JSON-RPC's and the protocol's error codes.
constexpr int chybarozboru = -32700;
constexpr int chybnypozadavek = -32600;
constexpr int neznamametoda = -32601;
constexpr int chybneparametry = -32602;
constexpr int neinicializovano = -32002;

struct ChybaParametru {
    std::string text;
};

// file:///home/me/kus%20jedna.txt -> /home/me/kus jedna.txt; "" for any
// other scheme (an editor's unsaved buffer).
std::string cestauri(const std::string& uri) {
    const std::string predpona = "file://";
    if (uri.compare(0, predpona.size(), predpona) != 0) return "";
    std::string o;
    for (size_t i = predpona.size(); i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size() && std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
            o += static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            o += uri[i];
        }
    }
    // file://host/path: the path starts at its first slash.
    const size_t lomitko = o.find('/');
    return lomitko == std::string::npos ? "" : o.substr(lomitko);
}

class Server {
public:
    explicit Server(std::string rejstriky)
        : vystup_(std::make_shared<Vystup>(STDOUT_FILENO)), rejstriky_(std::move(rejstriky)) {}

    int bez();

private:
    struct Dokument {
        std::string cesta;
        std::shared_ptr<const std::string> text;
        int64_t verze = 0;
        std::shared_ptr<const Rozbor> rozbor;   // of this version once done
    };

    void zprava(const std::string& telo);
    json pozadavek(const std::string& metoda, const json& p);
    void oznameni(const std::string& metoda, const json& p);
    void odpovez(const json& id, const json& vysledek);
    void chyba(const json& id, int kod, const std::string& text);
    void posli(const std::string& metoda, const json& p);

    void pracuj();
    std::shared_ptr<const Rozbor> rozborpro(const std::string& uri);
    static int64_t bajtv(const Mista& m, const json& pozice);

    std::shared_ptr<Vystup> vystup_;
    std::string rejstriky_;
    std::atomic<bool> utf8_{false};   // read by the analysis thread too
    bool inicializovano_ = false;
    bool ukonceno_ = false;   // shutdown came
    bool konec_ = false;      // exit came
    Procesy procesy_;

    std::mutex zamek_;
    std::mutex publikace_;   // taken before zamek_, never after it
    std::condition_variable prace_, hotovo_;
    std::map<std::string, Dokument> dokumenty_;
    bool zastavit_ = false;
};

void Server::posli(const std::string& metoda, const json& p) {
    vystup_->posli(json{{"jsonrpc", "2.0"}, {"method", metoda}, {"params", p}}.dump(-1, ' ', false,
                                                                                      json::error_handler_t::replace));
}

void Server::odpovez(const json& id, const json& vysledek) {
    vystup_->posli(json{{"jsonrpc", "2.0"}, {"id", id}, {"result", vysledek}}.dump(-1, ' ', false,
                                                                                   json::error_handler_t::replace));
}

void Server::chyba(const json& id, int kod, const std::string& text) {
    vystup_->posli(json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", kod}, {"message", platneutf8(text)}}}}.dump(
        -1, ' ', false, json::error_handler_t::replace));
}

// The analysis thread: always the newest version of a document whose
// analysis is missing; its diagnostics are published only while it is
// still the newest.
void Server::pracuj() {
    std::unique_lock<std::mutex> z(zamek_);
    for (;;) {
        std::string uri;
        Dokument d;
        prace_.wait(z, [&] {
            if (zastavit_) return true;
            for (const auto& [u, x] : dokumenty_) {
                if (!x.rozbor || x.rozbor->text != x.text) {
                    uri = u;
                    d = x;
                    return true;
                }
            }
            return false;
        });
        if (zastavit_) return;
        z.unlock();
        std::shared_ptr<const Rozbor> r;
        try {
            r = rozeber(d.text, d.verze, d.cesta, rejstriky_);
        } catch (const std::exception& e) {
            // Said as the score's error rather than ending the server.
            auto x = std::make_shared<Rozbor>();
            x->verze = d.verze;
            x->text = d.text;
            x->vysledek.status = 1;
            x->vysledek.zprava = e.what();
            r = x;
        }
        z.lock();
        auto it = dokumenty_.find(uri);
        if (it == dokumenty_.end() || it->second.text != d.text) continue;   // stale: a newer text came
        it->second.rozbor = r;
        hotovo_.notify_all();
        z.unlock();
        const Mista m(*r->text, utf8_);
        const json nalezy = diagnostiky(*r, m);
        {
            // Sent only while still the newest, and never after the
            // document's close has cleared its diagnostics; the writing
            // itself holds up no message of the client.
            std::lock_guard<std::mutex> zp(publikace_);
            z.lock();
            auto it = dokumenty_.find(uri);
            const bool nejnovejsi = it != dokumenty_.end() && it->second.text == d.text;
            z.unlock();
            if (nejnovejsi) {
                posli("textDocument/publishDiagnostics",
                      {{"uri", uri}, {"version", r->verze}, {"diagnostics", nalezy}});
            }
        }
        z.lock();
    }
}

// The analysis of the version the editor holds now, waited for.
std::shared_ptr<const Rozbor> Server::rozborpro(const std::string& uri) {
    std::unique_lock<std::mutex> z(zamek_);
    std::shared_ptr<const Rozbor> r;
    hotovo_.wait_for(z, std::chrono::seconds(60), [&] {
        auto it = dokumenty_.find(uri);
        if (it == dokumenty_.end()) return true;
        if (it->second.rozbor && it->second.rozbor->text == it->second.text) r = it->second.rozbor;
        return r != nullptr;
    });
    return r;
}

// The byte a position of the client stands at; -1 past the end.
int64_t Server::bajtv(const Mista& m, const json& pozice) {
    if (!pozice.is_object() || !pozice.contains("line") || !pozice.contains("character")) {
        throw ChybaParametru{"a position needs line and character"};
    }
    return m.bajt({pozice.at("line").get<int64_t>(), pozice.at("character").get<int64_t>()});
}

json Server::pozadavek(const std::string& metoda, const json& p) {
    if (metoda == "initialize") {
        inicializovano_ = true;
        // UTF-8 places when the client offers them, else the protocol's UTF-16.
        const json* kodovani = nullptr;
        if (p.contains("capabilities") && p["capabilities"].contains("general") &&
            p["capabilities"]["general"].contains("positionEncodings")) {
            kodovani = &p["capabilities"]["general"]["positionEncodings"];
        }
        bool utf8 = false;
        if (kodovani && kodovani->is_array()) {
            for (const json& k : *kodovani) utf8 = utf8 || (k.is_string() && k.get<std::string>() == "utf-8");
        }
        utf8_ = utf8;
        return {{"capabilities",
                 {{"positionEncoding", utf8_ ? "utf-8" : "utf-16"},
                  {"textDocumentSync", {{"openClose", true}, {"change", 2}}},
                  {"hoverProvider", true},
                  {"inlayHintProvider", true},
                  {"semanticTokensProvider", {{"legend", legenda()}, {"full", true}}},
                  {"completionProvider", {{"triggerCharacters", {"R", "("}}}},
                  {"documentSymbolProvider", true},
                  {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
                  {"executeCommandProvider", {{"commands", {"skladba.render", "skladba.play", "skladba.serve"}}}}}},
                {"serverInfo", {{"name", "skladba"}, {"version", SKLADBA_VERSION}}}};
    }
    if (metoda == "shutdown") {
        ukonceno_ = true;
        return nullptr;
    }
    if (metoda == "workspace/executeCommand") {
        const std::string prikaz = p.value("command", "");
        const json argumenty = p.value("arguments", json::array());
        if (!argumenty.is_array() || argumenty.empty() || !argumenty[0].is_string()) {
            throw ChybaParametru{"the command needs the document's URI"};
        }
        const std::string uri = argumenty[0].get<std::string>();
        const std::string cesta = cestauri(uri);
        if (cesta.empty()) throw ChybaParametru{"only a score saved as a file can be rendered, played or served"};
        auto ohlas = [v = vystup_](int typ, const std::string& text) {
            v->posli(json{{"jsonrpc", "2.0"}, {"method", "window/showMessage"},
                          {"params", {{"type", typ}, {"message", platneutf8(text)}}}}
                         .dump(-1, ' ', false, json::error_handler_t::replace));
        };
        if (prikaz == "skladba.render") {
            procesy_.vykresli(cesta, rejstriky_, ohlas);
        } else if (prikaz == "skladba.play") {
            double od = 0;
            if (argumenty.size() > 1) {
                const std::shared_ptr<const Rozbor> r = rozborpro(uri);
                if (r) {
                    const Mista m(*r->text, utf8_);
                    const int64_t b = bajtv(m, argumenty[1]);
                    if (b >= 0) od = static_cast<double>(vzorekod(*r, b)) / zaklad;
                }
            }
            procesy_.hraj(cesta, od, rejstriky_, ohlas);
        } else if (prikaz == "skladba.serve") {
            procesy_.otevri(cesta, rejstriky_, ohlas);
        } else {
            throw ChybaParametru{"no such command: " + prikaz};
        }
        return nullptr;
    }
    // The rest ask about one document.
    const bool zname = metoda == "textDocument/hover" || metoda == "textDocument/inlayHint" ||
                       metoda == "textDocument/semanticTokens/full" || metoda == "textDocument/completion" ||
                       metoda == "textDocument/documentSymbol" || metoda == "textDocument/codeAction";
    if (!zname) return json::object({{"neznama", true}});
    if (!p.contains("textDocument") || !p["textDocument"].contains("uri")) {
        throw ChybaParametru{"textDocument.uri is missing"};
    }
    const std::string uri = p["textDocument"]["uri"].get<std::string>();
    const std::shared_ptr<const Rozbor> r = rozborpro(uri);
    if (!r) return nullptr;   // a document the editor did not open
    const Mista m(*r->text, utf8_);
    const int64_t konec = static_cast<int64_t>(r->text->size());
    if (metoda == "textDocument/hover") {
        const int64_t b = bajtv(m, p.value("position", json()));
        return b < 0 ? json(nullptr) : popis(*r, m, b);
    }
    if (metoda == "textDocument/completion") {
        const int64_t b = bajtv(m, p.value("position", json()));
        return b < 0 ? json(nullptr) : doplneni(*r, b);
    }
    if (metoda == "textDocument/semanticTokens/full") return tokeny(*r, m);
    if (metoda == "textDocument/documentSymbol") return symboly(*r, m);
    // inlayHint, codeAction: a range (a bound past the end reaches the end).
    const json rozsah = p.value("range", json());
    if (!rozsah.is_object() || !rozsah.contains("start") || !rozsah.contains("end")) {
        throw ChybaParametru{"range is missing"};
    }
    const int64_t od = bajtv(m, rozsah["start"]);
    if (od < 0) return json::array();
    int64_t po = bajtv(m, rozsah["end"]);
    if (po < 0) po = konec;
    if (metoda == "textDocument/inlayHint") return oktavy(*r, m, od, po);
    return akce(*r, m, uri, od, po);
}

void Server::oznameni(const std::string& metoda, const json& p) {
    if (metoda == "exit") {
        konec_ = true;
        return;
    }
    if (metoda == "textDocument/didOpen") {
        const json& d = p.at("textDocument");
        const std::string uri = d.at("uri").get<std::string>();
        std::lock_guard<std::mutex> z(zamek_);
        Dokument& x = dokumenty_[uri];
        x.cesta = cestauri(uri);
        x.text = std::make_shared<const std::string>(d.at("text").get<std::string>());
        x.verze = d.value("version", int64_t{0});
        x.rozbor = nullptr;
        prace_.notify_all();
        return;
    }
    if (metoda == "textDocument/didChange") {
        const std::string uri = p.at("textDocument").at("uri").get<std::string>();
        std::lock_guard<std::mutex> z(zamek_);
        auto it = dokumenty_.find(uri);
        if (it == dokumenty_.end()) return;
        Dokument& x = it->second;
        std::string text = *x.text;
        for (const json& zmena : p.at("contentChanges")) {
            if (!zmena.contains("range")) {
                text = zmena.at("text").get<std::string>();
                continue;
            }
            const Mista m(text, utf8_);
            const json& r = zmena["range"];
            auto bajt = [&](const json& x) {
                return m.bajtomezeny({x.at("line").get<int64_t>(), x.at("character").get<int64_t>()});
            };
            const int64_t od = bajt(r.at("start"));
            const int64_t po = std::max(od, bajt(r.at("end")));
            text.replace(static_cast<size_t>(od), static_cast<size_t>(po - od), zmena.at("text").get<std::string>());
        }
        const int64_t verze = p["textDocument"].value("version", x.verze + 1);
        x.text = std::make_shared<const std::string>(std::move(text));
        x.verze = verze;
        prace_.notify_all();
        return;
    }
    if (metoda == "textDocument/didClose") {
        const std::string uri = p.at("textDocument").at("uri").get<std::string>();
        std::lock_guard<std::mutex> zp(publikace_);
        {
            std::lock_guard<std::mutex> z(zamek_);
            dokumenty_.erase(uri);
        }
        hotovo_.notify_all();
        posli("textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", json::array()}});
    }
    // Other notifications ($/cancelRequest, initialized, didSave...) need nothing.
}

void Server::zprava(const std::string& telo) {
    json z;
    try {
        z = json::parse(telo);
    } catch (const json::parse_error& e) {
        chyba(nullptr, chybarozboru, std::string("not JSON: ") + e.what());
        return;
    }
    if (!z.is_object() || !z.contains("method") || !z["method"].is_string()) {
        // A client's answer to a request of ours needs nothing; anything
        // else is no request.
        if (z.is_object() && z.contains("id") && (z.contains("result") || z.contains("error"))) return;
        chyba(z.is_object() && z.contains("id") ? z["id"] : json(nullptr), chybnypozadavek, "not a JSON-RPC request");
        return;
    }
    const std::string metoda = z["method"].get<std::string>();
    const json p = z.value("params", json::object());
    const bool jepozadavek = z.contains("id");
    if (!jepozadavek) {
        try {
            if (inicializovano_ || metoda == "exit") oznameni(metoda, p);
        } catch (const std::exception&) {
            // A notification has no answer; a malformed one is dropped.
        }
        return;
    }
    const json id = z["id"];
    if (!inicializovano_ && metoda != "initialize") {
        chyba(id, neinicializovano, "the server is not initialized yet");
        return;
    }
    if (ukonceno_) {
        chyba(id, chybnypozadavek, "the server is shutting down");
        return;
    }
    try {
        json v = pozadavek(metoda, p);
        if (v.is_object() && v.contains("neznama")) {
            chyba(id, neznamametoda, "unknown method: " + metoda);
            return;
        }
        odpovez(id, v);
    } catch (const ChybaParametru& e) {
        chyba(id, chybneparametry, e.text);
    } catch (const json::exception& e) {
        chyba(id, chybneparametry, std::string("invalid parameters: ") + e.what());
    }
}

int Server::bez() {
    std::thread pracovnik([this] { pracuj(); });
    Vstup vstup(STDIN_FILENO);
    std::string telo;
    for (;;) {
        const Vstup::Co co = vstup.cti(telo);
        if (co == Vstup::Co::konec) break;   // the client went away
        if (co == Vstup::Co::velka) {
            chyba(nullptr, chybnypozadavek,
                  "message refused: larger than " + std::to_string(nejvetsizprava >> 20) + " MiB");
            continue;
        }
        if (co == Vstup::Co::hlavicka) {
            chyba(nullptr, chybnypozadavek, "message refused: no Content-Length header");
            continue;
        }
        zprava(telo);
        if (konec_) break;
    }
    {
        std::lock_guard<std::mutex> z(zamek_);
        zastavit_ = true;
    }
    prace_.notify_all();
    pracovnik.join();
    procesy_.ukonci();
    return konec_ && ukonceno_ ? 0 : 1;
}

const char napovedalsp[] =
    "usage: skladba lsp [--registers DIR]\n"
    "\n"
    "A language server for scores, on standard input and output, for editors that\n"
    "speak the Language Server Protocol (Neovim, Helix, VS Code, Emacs): the\n"
    "warnings and errors of --check as you type, quick fixes, hover on a note,\n"
    "the octave of every note the relative rule places, colours, completion,\n"
    "outline, and commands to render, play from the cursor and open in skladba\n"
    "serve. It never writes a file. The registers are found as for a render of\n"
    "the score, or taken from DIR.\n";

}  // namespace

int spustlsp(int argc, char** argv) {
    std::string rejstriky;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(napovedalsp, stdout);
            return 0;
        }
        if (a == "--registers") {
            if (i + 1 == argc) {
                std::fprintf(stderr, "skladba: lsp: --registers needs a folder\n\n%s", napovedalsp);
                return 2;
            }
            rejstriky = argv[++i];
        } else if (a.compare(0, 12, "--registers=") == 0) {
            rejstriky = a.substr(12);
        } else if (a == "--stdio") {
            // What some clients add; standard input and output are the only way.
        } else {
            std::fprintf(stderr, "skladba: lsp: unknown argument '%s'\n\n%s", a.c_str(), napovedalsp);
            return 2;
        }
    }
    // A client that goes away while an answer is written ends the server
    // through the failed write, not through the signal.
    std::signal(SIGPIPE, SIG_IGN);
    Server s(rejstriky);
    return s.bez();
}

}  // namespace skladba::lsp
