// Memory straight from the system, in aligned pieces that huge pages can back.
#include "platform/system.h"

#include <cstdint>
#include <new>
#include <sys/mman.h>

namespace skladba::platform {

Pamet::Pamet(size_t bajtu) {
    if (bajtu == 0) return;
    const size_t d = velikostdilu;
    const size_t n = (bajtu + d - 1) / d * d;
    // Mapped one piece larger, then trimmed to an aligned stretch.
    void* p = ::mmap(nullptr, n + d, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t od = reinterpret_cast<uintptr_t>(p);
    const uintptr_t zarovnano = (od + d - 1) / d * d;
    if (zarovnano > od) ::munmap(p, zarovnano - od);
    if (od + n + d > zarovnano + n) ::munmap(reinterpret_cast<void*>(zarovnano + n), od + n + d - zarovnano - n);
    p_ = reinterpret_cast<void*>(zarovnano);
    n_ = n;
#ifdef MADV_HUGEPAGE
    ::madvise(p_, n_, MADV_HUGEPAGE);   // advice only: small pages work the same
#endif
}

Pamet& Pamet::operator=(Pamet&& o) noexcept {
    if (this != &o) {
        if (p_) ::munmap(p_, n_);
        p_ = o.p_;
        n_ = o.n_;
        o.p_ = nullptr;
        o.n_ = 0;
    }
    return *this;
}

Pamet::~Pamet() {
    if (p_) ::munmap(p_, n_);
}

}  // namespace skladba::platform
