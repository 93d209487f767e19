#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common.h"
#include "platform/system.h"

namespace bench {

void writeFile(const std::string& path, const void* data, size_t size) {
    skladba::platform::Soubor f = skladba::platform::vytvorprozapis(path.c_str());
    if (!f.otevren()) die("cannot create %s: %s", path.c_str(), std::strerror(errno));
    if (!skladba::platform::zapisvse(f.fd(), data, size, 0)) {
        die("cannot write %s: %s", path.c_str(), std::strerror(errno));
    }
}

int64_t copyFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY);
    if (in < 0) die("cannot open %s: %s (build the targets registers and workdir)", from.c_str(),
                    std::strerror(errno));
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) die("cannot create %s: %s", to.c_str(), std::strerror(errno));
    std::vector<char> buf(1 << 20);
    int64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) die("cannot read %s: %s", from.c_str(), std::strerror(errno));
        if (n == 0) break;
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) die("cannot write %s: %s", to.c_str(), std::strerror(errno));
            done += w;
        }
        total += n;
    }
    ::close(in);
    if (::close(out) != 0) die("cannot close %s: %s", to.c_str(), std::strerror(errno));
    return total;
}

// Reads up to size bytes from the start of path; returns the bytes read.
int64_t readInto(const std::string& path, void* data, size_t size) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) die("cannot open %s: %s", path.c_str(), std::strerror(errno));
    auto* p = static_cast<unsigned char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) die("cannot read %s: %s", path.c_str(), std::strerror(errno));
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return static_cast<int64_t>(done);
}

int64_t fileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) die("cannot open %s: %s", path.c_str(), std::strerror(errno));
    return static_cast<int64_t>(st.st_size);
}

void removeTree(const std::string& dir) {
    for (const char* f : {"aktualni.txt", "aktualni.wav", "aktualni.wav.part", "_.tmp", "bound.wav"})
        ::unlink((dir + "/" + f).c_str());
    for (const char* f : {"rejstr1.nes", "rejstr2.nes", "rejstr3.nes", "rejstr4.nes", "rejstr1.smycky",
                          "rejstr2.smycky", "rejstr3.smycky", "rejstr4.smycky", "wavhlavicka.nes"})
        ::unlink((dir + "/rejstriky/" + f).c_str());
    ::rmdir((dir + "/rejstriky").c_str());
    ::rmdir(dir.c_str());
}

// Resident set size of this process now, in KiB (VmRSS), or -1.
long selfRssKiB() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::strtol(line + 6, nullptr, 10);
    }
    std::fclose(f);
    return kib;
}

// Bytes this process has read and written through system calls so far
// (rchar + wchar of /proc/self/io), or -1.
int64_t selfIoBytes() {
    FILE* f = std::fopen("/proc/self/io", "r");
    if (!f) return -1;
    char line[256];
    int64_t bytes = 0;
    int found = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "rchar:", 6) == 0 || std::strncmp(line, "wchar:", 6) == 0) {
            bytes += std::strtoll(line + 6, nullptr, 10);
            ++found;
        }
    }
    std::fclose(f);
    return found == 2 ? bytes : -1;
}

// Compares two files byte for byte; returns -1 when equal, else the offset
// of the first difference (the shorter file's size when one is a prefix).
int64_t firstDifference(const std::string& a, const std::string& b, int64_t& sizeA, int64_t& sizeB) {
    const int fa = ::open(a.c_str(), O_RDONLY);
    const int fb = ::open(b.c_str(), O_RDONLY);
    if (fa < 0) die("cannot open %s: %s", a.c_str(), std::strerror(errno));
    if (fb < 0) die("cannot open %s: %s", b.c_str(), std::strerror(errno));
    struct stat sa {}, sb {};
    ::fstat(fa, &sa);
    ::fstat(fb, &sb);
    sizeA = sa.st_size;
    sizeB = sb.st_size;
    std::vector<unsigned char> ba(1 << 20), bb(1 << 20);
    int64_t offset = 0;
    int64_t result = -1;
    for (;;) {
        const ssize_t na = ::read(fa, ba.data(), ba.size());
        const ssize_t nb = ::read(fb, bb.data(), bb.size());
        if (na < 0 || nb < 0) die("cannot read while comparing WAVs: %s", std::strerror(errno));
        const ssize_t n = std::min(na, nb);
        for (ssize_t i = 0; i < n; ++i) {
            if (ba[i] != bb[i]) {
                result = offset + i;
                break;
            }
        }
        if (result >= 0) break;
        if (na != nb) {
            result = offset + n;
            break;
        }
        if (na == 0) break;
        offset += n;
    }
    ::close(fa);
    ::close(fb);
    return result;
}

}  // namespace bench
