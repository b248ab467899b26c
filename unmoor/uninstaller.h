#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "unmoor/removal.h"

// The uninstaller without its window: the check for a running main program, what the dialog's
// OK does, and what a run without a display says it would do.
namespace unmoor {

// The main program's file name, "orvanta", with ASCII letters compared without regard to case
// (as the original platform compares file names).
bool IsMainProgramName(std::string_view name);
bool MainProgramRunning(const std::vector<platform::ProcessInfo>& processes);
// Over the running processes now.
bool MainProgramRunning();

// What the dialog's OK did.
struct Outcome {
    std::vector<std::string> spamBoxesDeleted;  // account key names
    std::vector<std::string> accountsRestored;  // POP3 accounts whose backups were put back
    std::vector<std::string> accountsKept;      // POP3 accounts left with their backups
    std::optional<Removal> removal;             // none: nothing installed to remove
    bool removalStarted = false;
};

class Uninstaller {
public:
    // `programDirectory` holds the programs, and the list of installed files after a
    // `make install`.
    explicit Uninstaller(std::filesystem::path programDirectory);

    // The dialog's OK: deletes the spam-box account(s), restores every POP3 account as the
    // main program's unlink does, and starts the removal without waiting. Nothing is shown;
    // accounts left as they are go to the log.
    Outcome Accept();

    // What Accept would do now, in lines for standard output (UTF-8), without changing anything.
    std::vector<std::string> Plan() const;

    const std::filesystem::path& ProgramDirectory() const { return m_programDirectory; }

private:
    std::filesystem::path m_programDirectory;
};

// The directory of the running executable.
std::filesystem::path ExecutableDirectory();

}  // namespace unmoor
