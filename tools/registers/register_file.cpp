#include "registers/register_file.h"

#include "base/chyba.h"
#include "output/rozpracovany.h"
#include "output/wav.h"
#include "platform/system.h"

namespace skladba::registers {

RegisterOutput::RegisterOutput() = default;
RegisterOutput::~RegisterOutput() = default;

bool RegisterOutput::open(const std::string& path, std::string& error) {
    file_.reset();
    try {
        if (path.empty() || path.back() == '/') chybasouboru("cannot write " + path + ": not a file name");
        pripravvystup(path);
        file_ = std::make_unique<Rozpracovany>(path);
        return true;
    } catch (const ChybaSouboru& e) {
        error = e.what();
        return false;
    }
}

bool RegisterOutput::commit(const std::vector<int16_t>& samples, std::string& error) {
    if (!file_) {
        error = "cannot write: no register file is open";
        return false;
    }
    // Little-endian whatever the host's byte order.
    std::string bytes(samples.size() * 2, '\0');
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto word = static_cast<uint16_t>(samples[i]);
        bytes[2 * i] = static_cast<char>(word & 0xFFu);
        bytes[2 * i + 1] = static_cast<char>(word >> 8);
    }
    return commitBytes(bytes, error);
}

bool RegisterOutput::commitBytes(const std::string& bytes, std::string& error) {
    if (!file_) {
        error = "cannot write: no register file is open";
        return false;
    }
    try {
        file_->pis(bytes);
        file_->dokonci();
        // Whatever could stop the rename is looked at with signals held, so
        // that an interruption finds the register either in place or not.
        const platform::ZadrzenaPreruseni zadrzeno;
        const std::string prekazka = file_->prekazka();
        if (!prekazka.empty()) chybasouboru(prekazka);
        file_->prejmenuj();
        platform::oznacuspech();
        return true;
    } catch (const ChybaSouboru& e) {
        error = e.what();
        file_.reset();
        return false;
    }
}

}  // namespace skladba::registers
