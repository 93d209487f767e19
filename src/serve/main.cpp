// skladba-serve, run as "skladba serve": an editor in the web browser for one
// score file, which is saved and rendered as it is typed.
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

#include "app/volby.h"
#include "output/master.h"
#include "base/chyba.h"
#include "base/moznosti.h"
#include "platform/system.h"
#include "serve/server.h"
#include "serve/soustava.h"

#ifndef SKLADBA_VERSION
#define SKLADBA_VERSION "unknown"
#endif
#ifndef SKLADBA_WEB_FROM_BIN
#define SKLADBA_WEB_FROM_BIN "../share/skladba/web"
#endif
#ifndef SKLADBA_WEB_BUILD
#define SKLADBA_WEB_BUILD ""
#endif

namespace {

using namespace skladba;

constexpr int stavchyba = 1;
constexpr int stavpouziti = 2;

const char napovedaserveru[] =
    "usage: skladba serve [OPTION]... [SCORE]\n"
    "\n"
    "Opens SCORE (aktualni.txt without it) in an editor in the web browser: every\n"
    "edit is saved to SCORE and rendered at once, and the page plays it, draws its\n"
    "piano roll and lists its warnings and errors. Prints the page's address, with\n"
    "a new key every request must carry (SKLADBA_TOKEN gives one instead), and\n"
    "serves it until Ctrl-C. SCORE need not exist yet: typing makes it.\n"
    "\n"
    "The key is a secret: whoever has it can read and change SCORE. It is printed\n"
    "once, on standard output; keep that away from logs others can read.\n"
    "\n"
    "      --port N          listen on port N (default: any free port)\n"
    "      --open            open the page in the desktop's browser (xdg-open, given\n"
    "                        a file only you can read, never the key itself)\n"
    "      --host ADDRESS    listen on ADDRESS (0.0.0.0: every network) instead of\n"
    "                        127.0.0.1 only; anyone who can reach it and sees the\n"
    "                        key (it travels unencrypted) can then read and change\n"
    "                        SCORE\n"
    "      --registers DIR   take the registers from DIR\n"
    "      --release MS      start with notes that end after their value with a fade\n"
    "                        of MS milliseconds (5 to 10000)\n"    "      --mix-memory MIB  hold each render's mix in up to MIB mebibytes (default\n"
    "                        256, as skladba does), and the recent renders the page\n"
    "                        fetches within as much: past it only the newest is kept\n"
    "  -q, --quiet           start with the warnings about the score hidden\n"
    "  -h, --help            show this help and exit\n"
    "      --version         show the version and exit\n"
    "\n"
    "Registers are found as skladba finds them (skladba --help). A score may be at\n"
    "most 1 MB. Exit status: 130 after Ctrl-C (128 + the signal that stopped it),\n"
    "1 when it cannot start, 2 for wrong arguments.\n";

struct Volbyserveru {
    std::string partitura;
    std::string port, adresa, rejstriky, dozvuk, pamet;
    bool otevrit = false, tichy = false, napoveda = false, verze = false;
};

int chybapouziti(const std::string& zprava) {
    std::fprintf(stderr, "skladba serve: %s\n\n%s", zprava.c_str(), napovedaserveru);
    return stavpouziti;
}

// The options, read as skladba reads its own.
const Moznost<Volbyserveru> moznostiserveru[] = {
    {"quiet", 'q', false, [](Volbyserveru& v, const std::string&) { v.tichy = true; }},
    {"help", 'h', false, [](Volbyserveru& v, const std::string&) { v.napoveda = true; }},
    {"version", 0, false, [](Volbyserveru& v, const std::string&) { v.verze = true; }},
    {"open", 0, false, [](Volbyserveru& v, const std::string&) { v.otevrit = true; }},
    {"port", 0, true, [](Volbyserveru& v, const std::string& h) { v.port = h; }},
    {"host", 0, true, [](Volbyserveru& v, const std::string& h) { v.adresa = h; }},
    {"registers", 0, true, [](Volbyserveru& v, const std::string& h) { v.rejstriky = h; }},
    {"release", 0, true, [](Volbyserveru& v, const std::string& h) { v.dozvuk = h; }},
    {"mix-memory", 0, true, [](Volbyserveru& v, const std::string& h) { v.pamet = h; }},
};

bool rozeber(int argc, char** argv, Volbyserveru& v, std::string& chyba) {
    std::vector<std::string> partitury;
    if (!rozebermoznosti(argc, argv, moznostiserveru, v, partitury, chyba)) return false;
    if (partitury.size() > 1) {
        chyba = "one score at a time ('" + partitury[0] + "', '" + partitury[1] + "')";
        return false;
    }
    if (!partitury.empty()) v.partitura = partitury[0];
    int cislo = 0;
    if (!v.port.empty() && !celecislo(v.port, 1, 65535, cislo)) {
        chyba = "--port needs a port number from 1 to 65535, not '" + v.port + "'";
        return false;
    }
    if (!v.dozvuk.empty() && !dozvukms(v.dozvuk, cislo)) {
        chyba = "--release needs " + popisdozvuku() + ", not '" + v.dozvuk + "'";
        return false;
    }
    if (!v.pamet.empty() && !celecislo(v.pamet, 0, 999999, cislo)) {
        chyba = "--mix-memory needs a whole number of mebibytes from 0 to 999999, not '" + v.pamet + "'";
        return false;
    }
    if (v.partitura.empty()) v.partitura = "aktualni.txt";
    if (v.partitura == "-") {
        chyba = "serve edits a score file, not standard input";
        return false;
    }
    return true;
}

std::string nacti(const std::string& cesta, bool& ok) {
    std::ifstream f(cesta, std::ios::binary);
    ok = static_cast<bool>(f);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// What the page's script says in a build that could not bundle it.
const char bezskriptu[] =
    "this build of skladba serve has no editor script: bundling it needs npm, which the build did not find "
    "(install npm, e.g. apt-get install npm, and build again)";

// The page's files: installed in share/skladba/web beside the programs, or
// put together in the build folder for a program run from there. Its
// script is the bundle in js/ (main.js and the chunks it loads); without
// one, skladba serve still starts, and the page says what it lacks
// (chybiskript).
bool nactistranku(std::vector<Souborstranky>& stranka, bool& chybiskript, std::string& chyba) {
    std::vector<std::string> slozky;
    const std::string program = platform::cestaprogramu();
    if (!program.empty()) slozky.push_back(slozkainstalace(program, SKLADBA_WEB_FROM_BIN));
    if (*SKLADBA_WEB_BUILD) slozky.push_back(SKLADBA_WEB_BUILD);
    const std::string* slozka = nullptr;
    for (const std::string& s : slozky) {
        if (platform::druh((s + "/index.html").c_str()) != platform::Druh::zadny) {
            slozka = &s;
            break;
        }
    }
    if (!slozka) {
        chyba = "cannot find the editor's page (index.html) in";
        for (const std::string& s : slozky) chyba += " " + s;
        return false;
    }
    const char* const js = "application/javascript; charset=utf-8";
    const struct {
        const char* soubor;
        const char* typ;
    } soubory[] = {{"index.html", "text/html; charset=utf-8"},
                   {"skladba.css", "text/css; charset=utf-8"},
                   {"favicon.svg", "image/svg+xml"}};
    for (const auto& s : soubory) {
        bool ok = false;
        const std::string cesta = *slozka + "/" + s.soubor;
        std::string obsah = nacti(cesta, ok);
        if (!ok) {
            chyba = "cannot read the editor's page: " + cesta;
            return false;
        }
        stranka.push_back({std::string("/") + s.soubor, s.typ, obsah});
        if (std::string(s.soubor) == "index.html") stranka.push_back({"/", s.typ, obsah});
    }
    chybiskript = true;
    std::error_code e;
    for (const auto& polozka : std::filesystem::directory_iterator(*slozka + "/js", e)) {
        const std::string jmeno = polozka.path().filename().string();
        if (jmeno.size() < 4 || jmeno.compare(jmeno.size() - 3, 3, ".js") != 0) continue;
        bool ok = false;
        std::string obsah = nacti(polozka.path().string(), ok);
        if (!ok) {
            chyba = "cannot read the editor's page: " + polozka.path().string();
            return false;
        }
        if (jmeno == "main.js") chybiskript = false;
        stranka.push_back({"/js/" + jmeno, js, obsah});
    }
    if (chybiskript) {
        stranka.push_back({"/js/main.js", js,
                           std::string("const b = document.createElement('div');\n"
                                       "b.className = 'banner danger';\n"
                                       "b.textContent = 'The editor cannot start: ") +
                               bezskriptu + ".';\n"
                                            "document.getElementById('banners').appendChild(b);\n"
                                            "document.getElementById('status').textContent = 'no editor in this build';\n"});
    }
    return true;
}

// The score: a regular file of at most 1 MB, or a name in a folder that
// exists, to be made by the first edit.
bool overpartituru(const std::string& cesta, std::string& chyba) {
    const std::string jmeno = ukazjmeno(cesta);
    const platform::Otisk o = platform::otisk(cesta.c_str());
    if (o.existuje) {
        if (platform::jeslozka(cesta.c_str())) {
            chyba = jmeno + " is a folder; name a score file";
            return false;
        }
        bool ok = platform::druh(skutecnacesta(cesta).c_str()) == platform::Druh::obycejny;
        const std::string obsah = ok ? nacti(cesta, ok) : "";
        if (!ok) {
            chyba = "cannot edit " + jmeno + ": it is not a regular file that can be read";
            return false;
        }
        if (obsah.size() > nejvicbajtu) {
            chyba = "cannot edit " + jmeno + ": it is larger than 1 MB, the most the editor takes";
            return false;
        }
        return true;
    }
    std::string slozka = slozkacesty(cesta);
    if (slozka.size() > 1) slozka.pop_back();
    if (!slozka.empty() && !platform::jeslozka(slozka.c_str())) {
        chyba = "cannot edit " + jmeno + ": there is no folder " + slozka;
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // First of all: a Ctrl-C from now on waits in the pipe until the server
    // is ready to stop in order, however early it comes.
    platform::zachytavejpreruseni();
    ustalprevzorkovani();
    Volbyserveru v;
    std::string chyba;
    if (!rozeber(argc, argv, v, chyba)) return chybapouziti(chyba);
    if (v.napoveda) {
        std::fputs(napovedaserveru, stdout);
        return 0;
    }
    if (v.verze) {
        std::puts("skladba serve " SKLADBA_VERSION);
        return 0;
    }
    if (!overpartituru(v.partitura, chyba)) {
        std::fprintf(stderr, "skladba serve: %s\n", chyba.c_str());
        return stavchyba;
    }
    NastaveniServeru ns;
    bool chybiskript = false;
    if (!nactistranku(ns.stranka, chybiskript, chyba)) {
        std::fprintf(stderr, "skladba serve: %s\n", chyba.c_str());
        return stavchyba;
    }
    if (chybiskript) std::fprintf(stderr, "skladba serve: %s; the page says only that\n", bezskriptu);

    // The key every request must carry: new at every start, or the one in
    // SKLADBA_TOKEN, so that a page left open goes on with a server started
    // again on its port.
    unsigned char nahodne[16];
    ns.klic = platform::promenna("SKLADBA_TOKEN");
    if (!ns.klic.empty()) {
        if (ns.klic.size() < 16 || ns.klic.size() > 128 ||
            ns.klic.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_") != std::string::npos) {
            std::fprintf(stderr, "skladba serve: SKLADBA_TOKEN must be 16 to 128 letters, digits, '-' or '_'\n");
            return stavpouziti;
        }
    } else if (!platform::nahodne(nahodne, sizeof nahodne)) {
        std::fprintf(stderr, "skladba serve: cannot read the system's random source (/dev/urandom) for the page's key\n");
        return stavchyba;
    } else {
        for (const unsigned char b : nahodne) {
            ns.klic += "0123456789abcdef"[b >> 4];
            ns.klic += "0123456789abcdef"[b & 15];
        }
    }

    // A new score gets the mode the umask gives; every other file the server
    // makes (the renders, and the copies of the score they are made from) is
    // its owner's only.
    const unsigned pravapartitury = platform::pravanovych();
    platform::jensvoje();
    // The renders' files live in a folder of the server's own, removed when
    // it stops.
    const std::string pracovni = novaslozka();
    if (pracovni.empty()) {
        std::fprintf(stderr, "skladba serve: cannot make a scratch folder: %s\n", popischyby(errno).c_str());
        return stavchyba;
    }
    Cesty cesty;
    try {
        Volby volby;
        volby.partitury = {v.partitura};
        volby.vystup = pracovni + "/zvuk.wav";
        volby.midi = pracovni + "/zvuk.mid";
        volby.obraz = pracovni + "/obraz.svg";
        volby.musicxml = pracovni + "/noty.musicxml";
        volby.rejstriky = v.rejstriky;
        cesty = urcicesty(volby);
    } catch (const ChybaSouboru& e) {
        std::fprintf(stderr, "skladba serve: %s\n", e.what());
        smazslozku(pracovni);
        return stavchyba;
    }
    cesty.partitura = pracovni + "/partitura";

    ns.jmeno = v.partitura;
    ns.rejstriky = cesty.rejstriky;
    ns.dozvukms = v.dozvuk.empty() ? 0 : std::stoi(v.dozvuk);
    ns.varovani = !v.tichy;
    ns.jinaadresa = !v.adresa.empty();
    if (ns.jinaadresa) ns.adresa = v.adresa;
    if (!v.port.empty()) ns.port = std::stoi(v.port);

    // The server reads nothing from the terminal; without it there, the
    // engine's report of a mix sum that did not read back waits for no key
    // press and holds no render up.
    if (!std::freopen("/dev/null", "r", stdin)) std::fclose(stdin);
    // The file a link leads to is the one saved.
    Uloziste uloziste(skutecnacesta(v.partitura), ukazjmeno(v.partitura), nejvicbajtu, pravapartitury);
    Vykreslovani vykreslovani(cesty, v.pamet.empty() ? Meze{}.pametmixu : std::stoull(v.pamet) << 20);
    Server server(ns, uloziste, vykreslovani);
    if (!server.navaz()) {
        std::fprintf(stderr, "skladba serve: cannot listen on %s port %s: the address is not this machine's, or the port is taken\n",
                     ns.adresa.c_str(), v.port.empty() ? "(any)" : v.port.c_str());
        vykreslovani.zastav();
        smazslozku(pracovni);
        return stavchyba;
    }
    const bool vsude = ns.adresa == "0.0.0.0" || ns.adresa == "::";
    const std::string adresa = vsude ? "127.0.0.1" : ns.adresa.find(':') != std::string::npos ? "[" + ns.adresa + "]" : ns.adresa;
    const std::string url = "http://" + adresa + ":" + std::to_string(server.port()) + "/?token=" + ns.klic;
    std::printf("%s\n", url.c_str());
    std::fflush(stdout);
    // The key is printed once, on standard output: the line here names the
    // server without it.
    std::fprintf(stderr, "skladba serve: editing %s at http://%s:%d/ (the address above carries its key: keep it to yourself; Ctrl-C stops)\n",
                 ukazjmeno(v.partitura).c_str(), adresa.c_str(), server.port());
    if (ns.jinaadresa) {
        std::fprintf(stderr,
                     "skladba serve: WARNING: listening on %s, not only on this computer.\n"
                     "skladba serve: WARNING: ANYONE WHO CAN REACH %s PORT %d AND SEES THE KEY CAN READ %s AND CHANGE IT:\n"
                     "skladba serve: WARNING: the key travels unencrypted (plain HTTP), in every request.\n"
                     "skladba serve: WARNING: use --host only on a network you trust.\n",
                     ns.adresa.c_str(), ns.adresa.c_str(), server.port(), ukazjmeno(v.partitura).c_str());
    }
    std::fflush(stderr);

    std::thread obsluha([&] {
        server.obsluhuj();
        platform::probudhlavni();
    });
    // Another program's change to the score is noticed within a quarter of a second.
    std::mutex m;
    std::condition_variable konec;
    bool skoncit = false;
    std::thread hlidac([&] {
        std::unique_lock<std::mutex> zamek(m);
        while (!konec.wait_for(zamek, std::chrono::milliseconds(250), [&] { return skoncit; })) {
            zamek.unlock();
            uloziste.podivejse();
            zamek.lock();
        }
    });
    if (v.otevrit && !otevriprohlizec(url, pracovni, chyba)) {
        std::fprintf(stderr, "skladba serve: %s: open the address above in your browser\n", chyba.c_str());
    }

    const int signal = platform::cekejnapreruseni();
    if (signal == 0) std::fprintf(stderr, "skladba serve: the server stopped by itself\n");
    server.zastav();
    obsluha.join();
    {
        std::lock_guard<std::mutex> zamek(m);
        skoncit = true;
    }
    konec.notify_all();
    hlidac.join();
    vykreslovani.zastav();
    smazslozku(pracovni);
    const Uloziste::Obsah o = uloziste.obsah();
    std::fprintf(stderr, "skladba serve: stopped; %s %s\n", ukazjmeno(v.partitura).c_str(),
                 o.existuje ? "holds every edit the page saved" : "was never saved");
    return signal > 0 ? 128 + signal : stavchyba;
}
