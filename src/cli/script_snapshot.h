#pragma once

#include <memory>
#include <string>

#include "cli/sha256_digest.h"
#include "script/script_check.h"

namespace reburn3 {
class ScriptFile;
}

namespace reburn3::cli {

// The command's own copy of the script: the bytes the first whole-file check reads are
// written here as the check passes them, in the same pass that hashes them, and from
// then on every check and every run of the command reads this copy and nothing else.
// Whatever happens to the file on disk (rewritten in place, cut, replaced) after that
// pass, the device gets the bytes that were checked and hashed.
//
// The copy is a file without a name (O_TMPFILE, in $TMPDIR, /var/tmp or /tmp; else a
// sealed memfd), so a script of any size costs disk or page cache, not the process's
// memory. Nothing else can open it by name, and once finished it is open read-only
// only: no descriptor that could write it is left.
class ScriptSnapshot final : public ScriptDigest {
public:
    ScriptSnapshot() = default;
    ~ScriptSnapshot() override;
    ScriptSnapshot(const ScriptSnapshot&) = delete;
    ScriptSnapshot& operator=(const ScriptSnapshot&) = delete;

    // Makes the empty copy. False with the system's words in `error`.
    bool create(std::string& error);
    // The digest side, fed by the check: every block is hashed and written to the copy.
    void restart() override;
    void add(const char* data, std::size_t size) override;
    std::string hexResult() override;
    // The copy as a script file to read, once the check has passed over the whole
    // script. Null, with the reason in `error`, when a write to it failed (a full
    // temporary folder) or it cannot be opened again for reading.
    std::shared_ptr<ScriptFile> finish(std::string& error);

private:
    Sha256Digest m_sha;
    int m_fd = -1;
    bool m_sealable = false;  // a memfd: its contents can be frozen by the kernel
    int m_writeError = 0;     // errno of the first write that failed
};

}  // namespace reburn3::cli
