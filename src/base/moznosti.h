// Command lines read as GNU tools read them: options before or after the
// operands, "--" ends them, "--name=value" or "--name value", "-x value" or
// "-xvalue"; an empty value is refused. A program describes its options in
// a table of one line per option; skladba and skladba-registers share this.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace skladba {

// The fade of --release, in milliseconds: the command line, the editor's
// server and (through the server) its page all take this range.
constexpr int nejkratsidozvuk = 5;
constexpr int nejdelsidozvuk = 10000;

// The values of options, checked one way wherever they are given: the
// command line, the editor's server and its page's requests.
// A whole number from od to po written in decimal digits alone.
bool celecislo(const std::string& text, int od, int po, int& cislo);
// --release: whole milliseconds in the range above.
inline bool dozvukms(const std::string& text, int& ms) { return celecislo(text, nejkratsidozvuk, nejdelsidozvuk, ms); }
// What --release takes, for a message.
std::string popisdozvuku();   // "a whole number of milliseconds from 5 to 10000"
// Voice numbers from 1, separated by commas ("2,4"), at most a thousand;
// empty for none.
bool seznamhlasu(const std::string& text, std::vector<int>& hlasy);

// What the reader needs to know of an option.
struct Tvar {
    const char* dlouha;   // without the leading "--"
    char kratka;          // 0 when there is none
    bool hodnota;         // takes a value
};

// An option as given: its line in the table and its value.
struct Zadana {
    size_t moznost;
    std::string hodnota;
};

// Reads argv[1] to argv[argc - 1] against the options: the operands and the
// options given, each in the order written ("-" is an operand). False with
// a message for a usage error: an unknown option, a value missing, empty or
// given to an option that takes none.
bool roztrid(int argc, char** argv, const std::vector<Tvar>& tvary, std::vector<std::string>& operandy,
             std::vector<Zadana>& zadane, std::string& chyba);

// An option together with what it sets in a program's options V.
template <typename V>
struct Moznost {
    const char* dlouha;
    char kratka;
    bool hodnota;
    void (*nastav)(V&, const std::string& hodnota);
};

// Reads the command line against a table of Moznost: sets v by each option
// given, in order, and collects the operands.
template <typename V, size_t N>
bool rozebermoznosti(int argc, char** argv, const Moznost<V> (&tabulka)[N], V& v, std::vector<std::string>& operandy,
                     std::string& chyba) {
    std::vector<Tvar> tvary;
    for (const Moznost<V>& m : tabulka) tvary.push_back({m.dlouha, m.kratka, m.hodnota});
    std::vector<Zadana> zadane;
    if (!roztrid(argc, argv, tvary, operandy, zadane, chyba)) return false;
    for (const Zadana& z : zadane) tabulka[z.moznost].nastav(v, z.hodnota);
    return true;
}

}  // namespace skladba
