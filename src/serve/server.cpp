#include "serve/server.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <httplib.h>

#include "base/format.h"
#include "base/chyba.h"
#include "base/moznosti.h"
#include "output/formaty.h"
#include "output/kodek.h"
#include "output/master.h"
#include "platform/system.h"
#include "serve/prijem.h"
#include "serve/json.h"
#include "serve/straz.h"

namespace skladba {

namespace {

// Debian's cpp-httplib compresses text, JSON and SVG with brotli at its
// highest quality for any browser, which costs far more time than sending
// them over the loopback: a type with a parameter, as these, it leaves alone.
const char typjson[] = "application/json; charset=utf-8";

// Event streams open at once (each holds a thread of the pool until its
// page goes away); more pages than this get none and say so.
constexpr int nejvicproudu = 8;
constexpr int vlaken = 16;

// A render's output from memory, in the ranges a player asks for; drzi
// (the render it belongs to) stays alive while it is being sent.
void posli(httplib::Response& r, std::shared_ptr<const void> drzi, const std::string& obsah, const char* typ) {
    r.set_header("Accept-Ranges", "bytes");
    const std::string* data = &obsah;
    r.set_content_provider(data->size(), typ, [drzi, data](size_t od, size_t kolik, httplib::DataSink& sink) {
        if (od >= data->size()) return false;
        return sink.write(data->data() + od, std::min(kolik, data->size() - od));
    });
}

// A render's audio in a compressed format, encoded from the WAV in memory
// when it is first asked for (most renders are never downloaded) and kept
// with the render for every request after, the ranges of a player's
// included. wav: the render's WAV (made when first asked for where the
// render was made from the last one's mix); partitura: the score's name,
// which gives the title tag.
void poslizakodovany(httplib::Response& r, Vykreslovani& vykreslovani, const Vysledekvykresleni& v,
                     const std::string& wav, const std::string& pripona, const std::string& partitura) {
    for (const Format f : zakodovaneformaty) {
        if (pripona != priponaformatu(f) + 1) continue;
        const std::string chybi = chybejicipro(f);
        if (!chybi.empty()) {
            r.status = 404;
            r.set_content(std::string("skladba serve: this build cannot write ") + jmenoformatu(f) + ": it needs " +
                              chybi + "\n",
                          "text/plain; charset=utf-8");
            return;
        }
        try {
            auto data = vykreslovani.zakodovany(v, static_cast<int>(f), [&] {
                Kodovani k;
                k.format = f;
                k.partitura = partitura;
                // The directives name the piece and its composer, as in a render's own files.
                k.nazev = v->vysledek.hudba.nazev;
                k.autor = v->vysledek.hudba.autor;
                const std::string jmeno = "the " + std::string(jmenoformatu(f)) + " download";
                // A render of --master is 24-bit stereo (its header says so).
                const bool master = wav.size() > 34 && static_cast<unsigned char>(wav[34]) == 24;
                return master ? zakodujmaster(k, wav, jmeno) : zakodujwav(k, wav, jmeno);
            });
            posli(r, data, *data, typformatu(f));
        } catch (const ChybaSouboru& e) {
            r.status = 500;
            r.set_content(std::string("skladba serve: ") + e.what() + "\n", "text/plain; charset=utf-8");
        }
        return;
    }
}

// The fewest bytes (2, 3 or 4) that hold every 32-bit little-endian sum of
// bajty, each as the low bytes of its two's complement.
int sirkasum(const std::string& bajty) {
    int32_t nejmene = 0, nejvic = 0;
    for (size_t i = 0; i + 4 <= bajty.size(); i += 4) {
        const uint32_t u = static_cast<uint32_t>(static_cast<unsigned char>(bajty[i])) |
                           static_cast<uint32_t>(static_cast<unsigned char>(bajty[i + 1])) << 8 |
                           static_cast<uint32_t>(static_cast<unsigned char>(bajty[i + 2])) << 16 |
                           static_cast<uint32_t>(static_cast<unsigned char>(bajty[i + 3])) << 24;
        const auto s = static_cast<int32_t>(u);
        nejmene = std::min(nejmene, s);
        nejvic = std::max(nejvic, s);
    }
    if (nejmene >= -32768 && nejvic <= 32767) return 2;
    if (nejmene >= -8388608 && nejvic <= 8388607) return 3;
    return 4;
}

// The 32-bit little-endian sums of bajty, each replaced by its difference
// from the one before (modulo 2^32, so that adding them up again modulo
// 2^32 gives every sum back exactly); the first's from itself, so 0, and
// prvni is the first sum. A mix of tones changes little from one sample to
// the next: the differences take fewer bytes than the sums.
std::string rozdily(const std::string& bajty, int32_t& prvni) {
    const size_t n = bajty.size() / 4;
    std::string r(4 * n, '\0');
    prvni = 0;
    if (n == 0) return r;
    const auto* z = reinterpret_cast<const unsigned char*>(bajty.data());
    auto* c = reinterpret_cast<unsigned char*>(&r[0]);
    uint32_t pred = z[0] | z[1] << 8 | z[2] << 16 | uint32_t{z[3]} << 24;
    prvni = static_cast<int32_t>(pred);
    for (size_t i = 0; i < n; ++i, z += 4, c += 4) {
        const uint32_t u = z[0] | z[1] << 8 | z[2] << 16 | uint32_t{z[3]} << 24;
        const uint32_t d = u - pred;
        pred = u;
        c[0] = static_cast<unsigned char>(d);
        c[1] = static_cast<unsigned char>(d >> 8);
        c[2] = static_cast<unsigned char>(d >> 16);
        c[3] = static_cast<unsigned char>(d >> 24);
    }
    return r;
}

// Registers the menu offers: every rejstrX.nes in the folder whose X is a
// character that can be typed after R.
std::vector<std::string> rejstrikyve(const std::string& slozka) {
    std::vector<std::string> r;
    std::error_code chyba;
    for (const auto& polozka : std::filesystem::directory_iterator(slozka, chyba)) {
        const std::string jmeno = polozka.path().filename().string();
        const std::string predpona = predponarejstriku, pripona = priponarejstriku;
        const size_t p = predpona.size();
        if (jmeno.size() == p + 1 + pripona.size() && jmeno.compare(0, p, predpona) == 0 &&
            jmeno.compare(p + 1, pripona.size(), pripona) == 0 && jmeno[p] > 0x20 && jmeno[p] < 0x7F) {
            r.push_back(jmeno.substr(p, 1));
        }
    }
    std::sort(r.begin(), r.end());
    return r;
}

}  // namespace

struct Server::Vnitrek {
    NastaveniServeru n;
    Uloziste& uloziste;
    Vykreslovani& vykreslovani;
    Prijem http{vlaken};
    int port = 0;
    Straz straz{n};
    std::atomic<int> proudu{0};
    std::atomic<bool> konec{false};
    std::atomic<bool> obsluhuje{false};
    // The note list last sent, which a page that holds it is not sent again.
    std::mutex notym;
    Seznamnot noty;

    Vnitrek(NastaveniServeru nastaveni, Uloziste& u, Vykreslovani& v)
        : n(std::move(nastaveni)), uloziste(u), vykreslovani(v) {}

    // A POST route whose handler gets the whole body, counted as it arrives
    // whatever its framing (a length, or chunks of any number), so that no
    // request brings more than nejvicbajtu: past it, 413.
    void prijmi(const std::string& vzor, std::function<void(const httplib::Request&, httplib::Response&)> obsluha) {
        http.Post(vzor, [obsluha](const httplib::Request& q, httplib::Response& r, const httplib::ContentReader& cti) {
            std::string telo;
            bool moc = false;
            const bool ok = cti([&](const char* data, size_t delka) {
                if (telo.size() + delka > nejvicbajtu) {
                    moc = true;
                    return false;
                }
                telo.append(data, delka);
                return true;
            });
            if (!ok || moc) {
                r.status = moc || r.status == 413 ? 413 : 400;
                // The rest of the body is never read: the connection ends.
                r.set_header("Connection", "close");
                Prijem::zavripoodpovedi();
                return;
            }
            httplib::Request s_telem = q;
            s_telem.body = std::move(telo);
            obsluha(s_telem, r);
        });
    }

    void nastav() {
        // The library would share the port with any other process of the
        // same user (SO_REUSEPORT): a second server started on the same
        // --port would answer half of the page's requests. Only
        // SO_REUSEADDR, so that a port can be taken again at once after a
        // server stopped, and a port in use is an error.
        http.set_socket_options([](socket_t s) {
            int ano = 1;
            ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &ano, sizeof ano);
        });
        http.set_payload_max_length(nejvicbajtu);
        http.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                                  {"X-Frame-Options", "DENY"},
                                  {"Referrer-Policy", "no-referrer"},
                                  {"Cache-Control", "no-store"}});
        http.set_pre_routing_handler([this](const httplib::Request& q, httplib::Response& r) { return straz.zkontroluj(q, r); });
        http.set_error_handler([](const httplib::Request& q, httplib::Response& r) {
            if (!r.body.empty()) return;
            std::string zprava;
            if (r.status == 413 && q.get_header_value("Content-Type") == "application/x-www-form-urlencoded") {
                zprava = "refused: send the score as application/octet-stream, not as a form";
            } else if (r.status == 413) {
                zprava = "refused: the page sent more than 1 MB; a score in the editor must stay under 1 MB (1048576 bytes)";
            } else if (r.status == 404) {
                zprava = "nothing here: this server serves only the editor's page, its score and its renders";
            } else {
                zprava = "the request failed (HTTP " + std::to_string(r.status) + ")";
            }
            r.set_content("skladba serve: " + zprava + "\n", "text/plain; charset=utf-8");
        });

        for (const Souborstranky& s : n.stranka) {
            const Souborstranky* soubor = &s;
            // The library takes a path as a pattern: its dots only as dots.
            std::string vzor;
            for (const char c : s.cesta) vzor += c == '.' ? std::string("\\.") : std::string(1, c);
            http.Get(vzor, [soubor](const httplib::Request&, httplib::Response& r) {
                r.set_header("Content-Security-Policy",
                             "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; "
                             "media-src 'self'; object-src 'none'; base-uri 'none'; frame-ancestors 'none'");
                r.set_content(soubor->obsah, soubor->typ.c_str());
            });
        }

        http.Get("/api/info", [this](const httplib::Request&, httplib::Response& r) {
            const Uloziste::Obsah o = uloziste.obsah();
            std::string j = "{\"name\":" + jsontext(n.jmeno) + ",\"version\":" + jsontext(o.verze) +
                            ",\"exists\":" + (o.existuje ? "true" : "false") + ",\"registers\":[";
            const std::vector<std::string> rejstriky = rejstrikyve(n.rejstriky);
            for (size_t i = 0; i < rejstriky.size(); ++i) j += (i ? "," : "") + jsontext(rejstriky[i]);
            // The page's range of --release is the command line's.
            j += "],\"release\":" + std::to_string(n.dozvukms) + ",\"releaseRange\":[" +
                 std::to_string(nejkratsidozvuk) + "," + std::to_string(nejdelsidozvuk) + "]" + ",\"warnings\":" + (n.varovani ? "true" : "false") +
                 ",\"limit\":" + std::to_string(nejvicbajtu) + ",\"open\":" + (n.jinaadresa ? "true" : "false");
            // The compressed formats a render can be downloaded as.
            j += ",\"formats\":[";
            bool prvni = true;
            for (const Format f : zakodovaneformaty) {
                if (!chybejicipro(f).empty()) continue;
                j += std::string(prvni ? "" : ",") + "{\"ext\":\"" + (priponaformatu(f) + 1) + "\",\"name\":" + jsontext(jmenoformatu(f)) + "}";
                prvni = false;
            }
            j += "]}";
            r.set_content(j, typjson);
        });

        // The same for every score and every start.
        const std::string jazyk = jsonjazyk();
        http.Get("/api/language", [jazyk](const httplib::Request&, httplib::Response& r) { r.set_content(jazyk, typjson); });

        http.Get("/api/score", [this](const httplib::Request&, httplib::Response& r) {
            const Uloziste::Obsah o = uloziste.obsah();
            r.set_header("X-Skladba-Version", o.verze);
            if (!o.chyba.empty()) {
                r.status = 409;
                r.set_content("skladba serve: " + o.chyba + "\n", "text/plain; charset=utf-8");
                return;
            }
            r.set_content(o.bajty, "application/octet-stream");
        });

        prijmi("/api/edit", [this](const httplib::Request& q, httplib::Response& r) { uprava(q, r); });

        // At most 18 digits: a number that fits, and any longer one is not a render.
        http.Get(R"(/out/(\d{1,18})\.(wav|svg|mid|musicxml|flac|ogg|mp3|opus|sums))",
                 [this](const httplib::Request& q, httplib::Response& r) {
            const Vysledekvykresleni v = vykreslovani.najdi(std::stoull(q.matches[1].str()));
            const std::string druh = q.matches[2].str();
            // What the audio the page holds needs to become this render's.
            std::shared_ptr<const std::string> bajty;
            if (v && druh == "sums") bajty = std::shared_ptr<const std::string>(v, &v->sumy);
            else if (v) bajty = vykreslovani.soubor(v, druh);
            if (!bajty) {
                r.status = 404;
                r.set_content("skladba serve: this render is no longer kept; a newer one has replaced it\n",
                              "text/plain; charset=utf-8");
                return;
            }
            if (druh == "wav") return posli(r, bajty, *bajty, "audio/wav");
            if (druh == "sums") return posli(r, bajty, *bajty, "application/octet-stream");
            for (size_t i = 0; i < pocetvystupu; ++i) {
                if (druh == vystupy[i].pripona) return posli(r, bajty, *bajty, vystupy[i].typ);
            }
            poslizakodovany(r, vykreslovani, v, *bajty, druh, n.jmeno);   // encoded from the render's WAV once
        });

        http.Get("/api/events", [this](const httplib::Request&, httplib::Response& r) { udalosti(r); });
    }

    // An edit: the score's bytes in the body. It is rendered, and saved when
    // asked (save=1) if the file is still the version it was made from
    // (base); both answers come back together. Options: release=MS,
    // warnings=0, mute=VOICES and solo=VOICES (numbers from 1, "1,3"),
    // master=1 (where this build has --master).
    void uprava(const httplib::Request& q, httplib::Response& r) {
        // release=0 (or none): notes ring for their whole segment.
        int dozvuk = 0;
        const std::string d = q.get_param_value("release");
        if (!d.empty() && d != "0" && !dozvukms(d, dozvuk)) {
            r.status = 400;
            r.set_content("skladba serve: the release must be " + popisdozvuku() + "\n", "text/plain; charset=utf-8");
            return;
        }
        Zadani zadani{q.body, dozvuk, q.get_param_value("warnings") != "0", {}, {}};
        zadani.master = q.get_param_value("master") == "1" && chybejicipromaster().empty();
        if (!seznamhlasu(q.get_param_value("mute"), zadani.ztlumit) || !seznamhlasu(q.get_param_value("solo"), zadani.solo)) {
            r.status = 400;
            r.set_content("skladba serve: mute and solo take voice numbers from 1, separated by commas\n",
                          "text/plain; charset=utf-8");
            return;
        }
        // render=0: only saved, as when the page is being closed.
        const bool vykreslit = q.get_param_value("render") != "0";
        std::shared_future<Vysledekvykresleni> budouci;
        if (vykreslit) budouci = vykreslovani.zadej(std::move(zadani));
        // Saved while the render runs.
        std::string ulozeni = "null";
        if (q.get_param_value("save") == "1") {
            const Uloziste::Ulozeni u = uloziste.uloz(q.body, q.get_param_value("base"));
            if (!u.chyba.empty()) std::fprintf(stderr, "skladba serve: %s\n", u.chyba.c_str());
            ulozeni = jsonulozeni(u);
        }
        const Vysledekvykresleni v = vykreslit ? budouci.get() : nullptr;
        std::string vykresleni = "null";
        if (v) {
            // notes=N: the page holds render N's note list.
            uint64_t stranky = 0;
            const std::string drzi = q.get_param_value("notes");
            if (!drzi.empty() && drzi.size() <= 18 && drzi.find_first_not_of("0123456789") == std::string::npos) {
                stranky = std::stoull(drzi);
            }
            std::lock_guard<std::mutex> z(notym);
            vykresleni = jsonvykresleni(*v, &noty, stranky);
        }
        std::string json = "{\"save\":" + ulozeni + ",\"render\":" + vykresleni;
        const std::string sumy = q.get_param_value("sums");
        if (sumy != "1" && sumy != "2" && sumy != "3") return r.set_content(json + "}", typjson);
        // sums=1: the page patches its audio without asking again. One
        // binary answer: the length of the JSON (32-bit little-endian), the
        // JSON, spaces to a multiple of 4 bytes, then the changed sums the
        // JSON's patch names (none when the render is whole or not patched),
        // 32 bits each. sums=2: in the fewest bytes that hold every one of
        // them (2, 3 or 4: the low bytes of each), which "width" says.
        // sums=3: as 2, each sum as its difference from the one before
        // (the first's is 0, and "first" is the first sum), modulo 2^32.
        const bool posli = v && !v->nahrazeno && v->zmixu && !v->cely;
        int32_t prvni = 0;
        const std::string rozdil = sumy == "3" && posli ? rozdily(v->sumy, prvni) : std::string();
        const std::string& vysledek = sumy == "3" || !v ? rozdil : v->sumy;
        const int sirka = sumy != "1" && posli ? sirkasum(vysledek) : 4;
        json += ",\"width\":" + std::to_string(sirka);
        if (sumy == "3" && posli) json += ",\"first\":" + std::to_string(prvni);
        json += "}";
        json.append((4 - json.size() % 4) % 4, ' ');
        const auto delka = static_cast<uint32_t>(json.size());
        const size_t pocet = posli ? v->sumy.size() / 4 : 0;
        std::string telo;
        telo.reserve(4 + json.size() + pocet * static_cast<size_t>(sirka));
        for (int i = 0; i < 4; ++i) telo += static_cast<char>((delka >> (8 * i)) & 0xFF);
        telo += json;
        if (sirka == 4) {
            if (posli) telo += vysledek;
        } else {
            const size_t od = telo.size();
            telo.resize(od + static_cast<size_t>(sirka) * pocet);
            char* cil = &telo[od];
            const char* zdroj = vysledek.data();
            // A width known to the compiler: each sum's copy is a move or two.
            if (sirka == 2) {
                for (size_t i = 0; i < pocet; ++i) std::memcpy(cil + 2 * i, zdroj + 4 * i, 2);
            } else {
                for (size_t i = 0; i < pocet; ++i) std::memcpy(cil + 3 * i, zdroj + 4 * i, 3);
            }
        }
        r.set_content(std::move(telo), "application/octet-stream");
    }

    // Server-sent events: the score's version now and at every change,
    // and a comment every 15 s to keep the stream open.
    void udalosti(httplib::Response& r) {
        if (++proudu > nejvicproudu) {
            --proudu;
            r.status = 503;
            r.set_content("skladba serve: too many pages are open on this score\n", "text/plain; charset=utf-8");
            return;
        }
        auto posledni = std::make_shared<std::string>();
        r.set_chunked_content_provider(
            "text/event-stream",
            [this, posledni](size_t, httplib::DataSink& sink) {
                const std::string verze = posledni->empty() ? uloziste.obsah().verze : uloziste.cekejnazmenu(*posledni, 15000);
                if (konec) return false;
                if (verze == *posledni) return sink.write(": \n\n", 4);
                *posledni = verze;
                const std::string zprava = "event: version\ndata: " + verze + "\n\n";
                return sink.write(zprava.data(), zprava.size());
            },
            [this](bool) { --proudu; });
    }
};

Server::Server(NastaveniServeru nastaveni, Uloziste& uloziste, Vykreslovani& vykreslovani)
    : v_(std::make_unique<Vnitrek>(std::move(nastaveni), uloziste, vykreslovani)) {
    v_->nastav();
}

Server::~Server() = default;

bool Server::navaz() {
    if (v_->n.port == 0) {
        v_->port = v_->http.bind_to_any_port(v_->n.adresa);
    } else {
        v_->port = v_->http.bind_to_port(v_->n.adresa, v_->n.port) ? v_->n.port : 0;
    }
    v_->straz.naport(v_->port);
    return v_->port > 0;
}

int Server::port() const { return v_->port; }

void Server::obsluhuj() {
    v_->obsluhuje = true;
    if (!v_->konec) v_->http.listen_after_bind();
    v_->http.skonci();
    v_->obsluhuje = false;
}

void Server::zastav() {
    v_->konec = true;
    v_->uloziste.probud();
    // A stop asked for while the listening loop is only starting waits for
    // it to run, which it then ends; the library ignores a stop before that.
    for (int i = 0; i < 5000 && v_->obsluhuje && !v_->http.is_running(); ++i) platform::spi(1);
    v_->http.stop();
}

}  // namespace skladba
