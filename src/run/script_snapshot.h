#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "run/sha256_digest.h"
#include "script/script_check.h"

namespace reburn3 {
class ScriptFile;
}

namespace reburn3::run {

// The command's own copy of the script: the bytes the first whole-file check reads are
// written here as the check passes them, in the same pass that hashes them, and from
// then on every check and every run of the command reads this copy and nothing else.
// Whatever happens to the file on disk (rewritten in place, cut, replaced) after that
// pass, the device gets the bytes that were checked and hashed.
//
// The copy is a memory file (memfd) that the kernel seals once it is filled: from then on
// no process, not even one of the same user writing through /proc/PID/fd, can change
// it. It costs page cache (or swap), not the process's own memory. Where a memfd is
// refused or fills up (a memory limit), the copy moves to a file without a name
// (O_TMPFILE, readable by its owner only) in $TMPDIR, then /var/tmp, then /tmp, each
// taking over what the one before held: a full $TMPDIR is not the script's fault.
// Nothing else can open the copy by name, and once finished it is open read-only only.
class ScriptSnapshot final : public ScriptDigest {
public:
    ScriptSnapshot() = default;
    ~ScriptSnapshot() override;
    ScriptSnapshot(const ScriptSnapshot&) = delete;
    ScriptSnapshot& operator=(const ScriptSnapshot&) = delete;

    // Makes the empty copy for a script of `size` bytes. False with the system's words in
    // `error`. A script larger than half the memory available now starts on disk: a memfd
    // lives in memory (or swap), and filling it must not starve the machine.
    bool create(std::string& error, std::uint64_t size = 0);
    // The digest side, fed by the check: every block is hashed and written to the copy.
    void restart() override;
    void add(const char* data, std::size_t size) override;
    std::string hexResult() override;
    // The copy as a script file to read, once the check has passed over the whole
    // script. Null, with the reason in `error`, when a write to it failed (a full
    // temporary folder) or it cannot be opened again for reading.
    std::shared_ptr<ScriptFile> finish(std::string& error);

private:
    // Opens the place m_place, or the first after it that opens and takes what was
    // written so far. False with the system's words when none is left.
    bool openNextPlace(std::string& error);

    Sha256Digest m_sha;
    std::vector<std::string> m_places;  // "": the memfd, else a folder
    std::size_t m_place = 0;
    int m_fd = -1;
    std::uint64_t m_written = 0;  // bytes the copy holds
    bool m_sealable = false;      // a memfd: its contents can be frozen by the kernel
    int m_writeError = 0;         // errno of the write that no place could take
};

}  // namespace reburn3::run
