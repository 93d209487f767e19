#include "platform/prehravac.h"

#include <pulse/error.h>
#include <pulse/simple.h>

namespace skladba::platform {

namespace {

pa_simple* proud(void* p) { return static_cast<pa_simple*>(p); }

int64_t ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Prehravac::Volani::Volani(Prehravac& p) : p_(p) { p_.odkdy_ = ms(); }
Prehravac::Volani::~Volani() { p_.odkdy_ = -1; }

Prehravac::~Prehravac() {
    {
        std::lock_guard<std::mutex> zamek(m_);
        konec_ = true;
    }
    stop_.notify_all();
    if (hlidac_.joinable()) hlidac_.join();
    if (spojeni_) pa_simple_free(proud(spojeni_));
}

void Prehravac::hlidej(std::chrono::milliseconds limit, std::function<void()> zaseknuti) {
    hlidac_ = std::thread([this, limit, zaseknuti] {
        std::unique_lock<std::mutex> zamek(m_);
        while (!stop_.wait_for(zamek, std::chrono::milliseconds(100), [this] { return konec_; })) {
            const int64_t od = odkdy_;
            if (od >= 0 && ms() - od >= limit.count()) {
                zaseknuti();
                return;
            }
        }
    });
}

bool Prehravac::otevri(int rate, const std::string& nazev, std::string& chyba, int kanalu) {
    kanalu_ = kanalu;
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16NE;
    spec.rate = static_cast<uint32_t>(rate);
    spec.channels = static_cast<uint8_t>(kanalu);
    // A target of zpozdenims: the server refills from us every few
    // milliseconds instead of holding seconds of the piece.
    pa_buffer_attr buf{};
    buf.maxlength = static_cast<uint32_t>(-1);
    buf.tlength = static_cast<uint32_t>(pa_usec_to_bytes(uint64_t{zpozdenims} * 1000, &spec));
    buf.prebuf = static_cast<uint32_t>(-1);
    buf.minreq = static_cast<uint32_t>(-1);
    buf.fragsize = static_cast<uint32_t>(-1);
    int err = 0;
    const Volani v(*this);
    spojeni_ = pa_simple_new(nullptr, "skladba", PA_STREAM_PLAYBACK, nullptr, nazev.c_str(), &spec, nullptr, &buf, &err);
    if (!spojeni_) chyba = pa_strerror(err);
    return spojeni_ != nullptr;
}

bool Prehravac::pis(const int16_t* vzorky, size_t pocet, std::string& chyba) {
    int err = 0;
    const Volani v(*this);
    if (pa_simple_write(proud(spojeni_), vzorky, pocet * kanalu_ * sizeof(int16_t), &err) == 0) return true;
    chyba = pa_strerror(err);
    return false;
}

int64_t Prehravac::zpozdeni() {
    int err = 0;
    const Volani v(*this);
    const pa_usec_t us = pa_simple_get_latency(proud(spojeni_), &err);
    return us == static_cast<pa_usec_t>(-1) ? -1 : static_cast<int64_t>(us);
}

void Prehravac::zahod() {
    int err = 0;
    const Volani v(*this);
    pa_simple_flush(proud(spojeni_), &err);
}

void Prehravac::dohraj() {
    int err = 0;
    const Volani v(*this);
    pa_simple_drain(proud(spojeni_), &err);
}

}  // namespace skladba::platform
