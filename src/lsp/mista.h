// Places in a text the editor holds: byte offsets (what the engine and the
// check report) and the line and character the client counts, in UTF-16
// code units unless it chose UTF-8. Lines end at "\n", "\r\n" or a lone
// "\r", as the protocol counts them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skladba::lsp {

struct Misto {
    int64_t radek = 0;
    int64_t znak = 0;
};

class Mista {
public:
    Mista(const std::string& text, bool utf8);

    // The place of a byte offset (clamped to the text).
    Misto misto(int64_t bajt) const;
    // The byte offset of a place; -1 past the end of its line or of the text.
    int64_t bajt(const Misto& m) const;
    // The same, a place past its line's end taken as the line's end and
    // one past the last line as the end of the text (for edits).
    int64_t bajtomezeny(const Misto& m) const;
    // The end of the line that holds a byte offset, before its line break.
    int64_t konecradku(int64_t bajt) const;
    int64_t zacatekradku(int64_t bajt) const;
    // How many units the bytes [od, po) of one line are.
    int64_t jednotek(int64_t od, int64_t po) const;
    int64_t radku() const { return static_cast<int64_t>(zacatky_.size()); }

private:
    int64_t radekbajtu(int64_t bajt) const;
    int64_t konecradkuc(int64_t radek) const;   // before the line break
    const std::string& text_;
    bool utf8_;
    std::vector<int64_t> zacatky_;
};

// Bytes of a UTF-8 text that is not valid become U+FFFD, so that a
// message that quotes them always encodes.
std::string platneutf8(const std::string& s);

}  // namespace skladba::lsp
