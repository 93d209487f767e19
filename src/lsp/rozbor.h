// One analysis of one version of a score the editor holds: the check that
// `skladba --check` runs, on the editor's text in memory, with the
// registers found as a render of that file finds them; the commands as the
// check read them (for colours, sections and the places of messages); and
// the music as written (for hover and the octaves shown).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/beh.h"
#include "score/kontrola.h"

namespace skladba::lsp {

// The directive keyword a comment's text (without its parentheses) begins
// with, as the check reads it (score/smernice.h), or empty for a plain
// comment.
std::string klicoveslovo(const std::string& komentar);

struct Rozbor {
    int64_t verze = 0;
    std::shared_ptr<const std::string> text;   // the UTF-8 text, as the engine read it
    std::string cesta;        // the score's file ("" for a text with no file)
    std::string rejstriky;    // the register folder the check used ("" none)
    Vysledek vysledek;        // the check: warnings, error, summary, the music
    std::vector<Povel> povely;
    double ms = 0;            // how long it took

    // The command that starts at a byte offset, or null.
    const Povel* povel(int64_t pozice) const;
    // The note, rest or dot whose bytes hold an offset, or null.
    const Udalost* udalost(int64_t bajt) const;
};

// Runs the check on text. rejstriky: the folder given to skladba lsp with
// --registers ("" to look for it as a render does).
std::shared_ptr<const Rozbor> rozeber(std::shared_ptr<const std::string> text, int64_t verze, const std::string& cesta,
                                      const std::string& rejstriky);

}  // namespace skladba::lsp
