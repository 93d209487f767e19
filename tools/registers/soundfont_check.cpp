#include "registers/soundfont_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace skladba::registers {
namespace {

// The tables of a SoundFont are indexed by 16-bit numbers, so all of them
// together fit in a few megabytes; more is not a SoundFont.
constexpr std::uint32_t kLargestTables = 16u << 20;
// Fewer sample points than this make the synthesiser read before the sample.
constexpr std::uint32_t kShortestSample = 8;

// Generators the synthesiser uses to index its 128-entry key tables.
constexpr int kKeyNumber = 46, kVelocity = 47, kRootKey = 58;
constexpr int kInstrument = 41, kSampleId = 53;
constexpr std::uint16_t kRomSample = 0x8000, kCompressedSample = 0x10;

std::uint16_t u16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t u32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::string idOf(const unsigned char* p) {
    std::string id;
    for (int i = 0; i < 4; ++i) id += p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '?';
    return id;
}

// The name at the start of a record: up to 20 characters, zero-padded.
std::string nameOf(const unsigned char* p) {
    std::string name;
    for (int i = 0; i < 20 && p[i] != 0; ++i) name += p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '?';
    return "\"" + name + "\"";
}

class File {
public:
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool open(const std::string& path, std::string& why) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
            why = std::strerror(errno);
            return false;
        }
        size_ = static_cast<std::uint64_t>(st.st_size);
        return true;
    }
    bool read(std::uint64_t at, void* into, std::size_t bytes) const {
        auto* p = static_cast<char*>(into);
        while (bytes > 0) {
            const ssize_t got = ::pread(fd_, p, bytes, static_cast<off_t>(at));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            p += got;
            at += static_cast<std::uint64_t>(got);
            bytes -= static_cast<std::size_t>(got);
        }
        return true;
    }
    std::uint64_t size() const { return size_; }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

using Table = SoundFontTable;

// The chunks inside [from, to) of `bytes`, one after the other; false when
// one of them reaches past `to`.
template <typename Visit>
bool eachChunk(const unsigned char* bytes, std::size_t from, std::size_t to, std::string& why, Visit visit) {
    while (from + 8 <= to) {
        const std::uint32_t size = u32(bytes + from + 4);
        if (size > to - from - 8) {
            why = "its " + idOf(bytes + from) + " chunk reaches past the end of the chunk that holds it";
            return false;
        }
        visit(bytes + from, bytes + from + 8, size);
        from += 8 + static_cast<std::size_t>(size) + (size & 1u);
    }
    return true;
}

// The zones of presets or instruments (`headers`, whose first zone index
// lies `bagAt` bytes into each record) and the generators and modulators of
// each zone: every index in order and within its table. `visit` sees every
// generator and modulator a zone uses, with the name of its header.
template <typename Visit>
bool checkZones(const Table& headers, std::size_t bagAt, const Table& bags, const Table& gens, const Table& mods,
                const char* what, std::string& why, Visit visit) {
    for (std::size_t h = 0; h + 1 < headers.count; ++h) {
        const std::size_t firstBag = u16(headers.at(h) + bagAt), endBag = u16(headers.at(h + 1) + bagAt);
        if (firstBag > endBag || endBag >= bags.count) {
            why = std::string("the zones of ") + what + " " + nameOf(headers.at(h)) + " lie outside its " + bags.id +
                  " table";
            return false;
        }
        for (std::size_t b = firstBag; b < endBag; ++b) {
            const std::size_t firstGen = u16(bags.at(b)), endGen = u16(bags.at(b + 1));
            const std::size_t firstMod = u16(bags.at(b) + 2), endMod = u16(bags.at(b + 1) + 2);
            if (firstGen > endGen || endGen >= gens.count || firstMod > endMod || endMod >= mods.count) {
                why = std::string("the generators or modulators of ") + what + " " + nameOf(headers.at(h)) +
                      " lie outside their tables";
                return false;
            }
            for (std::size_t g = firstGen; g < endGen; ++g) {
                if (!visit(headers.at(h), gens.at(g), nullptr)) return false;
            }
            for (std::size_t m = firstMod; m < endMod; ++m) {
                if (!visit(headers.at(h), nullptr, mods.at(m))) return false;
            }
        }
    }
    return true;
}

const char* keyTableName(int generator) {
    switch (generator) {
        case kKeyNumber: return "key number";
        case kVelocity: return "velocity";
        case kRootKey: return "root key";
        default: return nullptr;
    }
}

// A generator or modulator that would make the synthesiser index outside
// its tables; `what` is "preset" or "instrument".
bool checkGenerator(const char* what, const unsigned char* header, const unsigned char* gen,
                    const unsigned char* mod, std::size_t instruments, std::size_t samples, std::vector<bool>& used,
                    std::string& why) {
    const std::string owner = std::string(what) + " " + nameOf(header);
    if (mod != nullptr) {
        if (const char* name = keyTableName(u16(mod + 2))) {
            why = owner + " has a modulator that changes its " + name;
            return false;
        }
        return true;
    }
    const int oper = u16(gen);
    const auto amount = static_cast<std::int16_t>(u16(gen + 2));
    if (const char* name = keyTableName(oper)) {
        if (amount < -1 || amount > 127) {
            why = owner + " sets its " + name + " to " + std::to_string(amount) + ", outside 0 to 127";
            return false;
        }
    } else if (oper == kInstrument && std::string_view(what) == "preset") {
        if (u16(gen + 2) + 1u >= instruments) {
            why = owner + " plays instrument " + std::to_string(u16(gen + 2)) + ", and there are " +
                  std::to_string(instruments - 1);
            return false;
        }
    } else if (oper == kSampleId && std::string_view(what) == "instrument") {
        if (u16(gen + 2) + 1u >= samples) {
            why = owner + " plays sample " + std::to_string(u16(gen + 2)) + ", and there are " +
                  std::to_string(samples - 1);
            return false;
        }
        used[u16(gen + 2)] = true;
    }
    return true;
}

}  // namespace

bool checkSoundFont(const std::string& path, std::string& why, SoundFontTables* kept) {
    File file;
    if (!file.open(path, why)) return false;
    unsigned char header[12];
    if (file.size() < sizeof header || !file.read(0, header, sizeof header) || idOf(header) != "RIFF" ||
        idOf(header + 8) != "sfbk") {
        why = "it does not begin as a SoundFont does";
        return false;
    }
    const std::uint64_t end = 8 + static_cast<std::uint64_t>(u32(header + 4));
    if (end > file.size()) {
        why = "the file is cut short: it ends at byte " + std::to_string(file.size()) + " of " + std::to_string(end);
        return false;
    }
    // The top-level chunks, read by their headers; only the tables of the
    // pdta chunk and the size of the sample data are kept.
    std::uint64_t sampleBytes = 0;
    bool haveSamples = false;
    SoundFontTables local;
    SoundFontTables& t = kept != nullptr ? *kept : local;
    std::vector<unsigned char>& tables = t.bytes;
    for (std::uint64_t at = 12; at + 8 <= end;) {
        unsigned char chunk[12] = {};
        if (!file.read(at, chunk, 8)) break;
        const std::uint32_t size = u32(chunk + 4);
        if (size > end - at - 8) {
            why = "the file ends inside its " + idOf(chunk) + " chunk";
            return false;
        }
        if (idOf(chunk) == "LIST" && size >= 4 && file.read(at + 8, chunk + 8, 4)) {
            const std::string kind = idOf(chunk + 8);
            if (kind == "sdta") {
                // Sub-chunk headers only: the samples themselves may be large.
                for (std::uint64_t sub = at + 12; sub + 8 <= at + 8 + size;) {
                    unsigned char subchunk[8];
                    if (!file.read(sub, subchunk, 8)) break;
                    const std::uint32_t subSize = u32(subchunk + 4);
                    if (subSize > at + 8 + size - sub - 8) {
                        why = "its " + idOf(subchunk) + " chunk reaches past the end of its sdta chunk";
                        return false;
                    }
                    if (idOf(subchunk) == "smpl") {
                        sampleBytes = subSize;
                        haveSamples = true;
                    }
                    sub += 8 + static_cast<std::uint64_t>(subSize) + (subSize & 1u);
                }
            } else if (kind == "pdta") {
                if (size - 4 > kLargestTables) {
                    why = "its pdta chunk holds " + std::to_string(size) + " bytes, more than a SoundFont's tables can";
                    return false;
                }
                tables.resize(size - 4);
                if (!file.read(at + 12, tables.data(), tables.size())) {
                    why = std::strerror(errno != 0 ? errno : EIO);
                    return false;
                }
            }
        }
        at += 8 + static_cast<std::uint64_t>(size) + (size & 1u);
    }
    if (!haveSamples) {
        why = "it has no sample data (smpl chunk)";
        return false;
    }
    if (tables.empty()) {
        why = "it has no preset data (pdta chunk)";
        return false;
    }

    Table &phdr = t.phdr, &pbag = t.pbag, &pmod = t.pmod, &pgen = t.pgen, &inst = t.inst, &ibag = t.ibag,
          &imod = t.imod, &igen = t.igen, &shdr = t.shdr;
    Table* all[] = {&phdr, &pbag, &pmod, &pgen, &inst, &ibag, &imod, &igen, &shdr};
    std::string bad;
    if (!eachChunk(tables.data(), 0, tables.size(), why,
                   [&](const unsigned char* id, const unsigned char* data, std::uint32_t size) {
                       for (Table* t : all) {
                           if (idOf(id) == t->id && t->data == nullptr) {
                               t->data = data;
                               t->count = size / t->width;
                               if (size % t->width != 0 && bad.empty()) bad = t->id;
                           }
                       }
                   })) {
        return false;
    }
    if (!bad.empty()) {
        why = "its " + bad + " table is not a whole number of records";
        return false;
    }
    for (const Table* t : all) {
        if (t->count < t->least) {
            why = std::string("its ") + t->id + " table is missing or too short";
            return false;
        }
    }

    std::vector<bool> used(shdr.count, false);
    const auto presetPart = [&](const unsigned char* header, const unsigned char* gen, const unsigned char* mod) {
        return checkGenerator("preset", header, gen, mod, inst.count, shdr.count, used, why);
    };
    const auto instrumentPart = [&](const unsigned char* header, const unsigned char* gen, const unsigned char* mod) {
        return checkGenerator("instrument", header, gen, mod, inst.count, shdr.count, used, why);
    };
    if (!checkZones(phdr, 24, pbag, pgen, pmod, "preset", why, presetPart) ||
        !checkZones(inst, 20, ibag, igen, imod, "instrument", why, instrumentPart)) {
        return false;
    }

    // The samples the instruments play lie inside the sample data.
    for (std::size_t s = 0; s + 1 < shdr.count; ++s) {
        if (!used[s]) continue;
        const unsigned char* h = shdr.at(s);
        const std::uint32_t start = u32(h + 20), stop = u32(h + 24);
        const std::uint16_t type = u16(h + 44);
        if ((type & kRomSample) != 0) continue;  // not in the file; the synthesiser leaves it out
        const std::uint64_t limit = (type & kCompressedSample) != 0 ? sampleBytes : sampleBytes / 2;
        if (stop > limit || start >= stop) {
            why = "sample " + nameOf(h) + " lies outside the sample data";
            return false;
        }
        if ((type & kCompressedSample) == 0 && stop - start < kShortestSample) {
            why = "sample " + nameOf(h) + " holds " + std::to_string(stop - start) + " points, fewer than " +
                  std::to_string(kShortestSample);
            return false;
        }
    }
    return true;
}

}  // namespace skladba::registers
