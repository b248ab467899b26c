#include "unmoor/uninstaller.h"

#include <algorithm>
#include <system_error>

#include <strings.h>

#include "components/accountkeys/account_keys.h"
#include "platform/codepage.h"
#include "platform/program_files.h"
#include "unmoor/log.h"

namespace unmoor {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBackupValues[] = {"SMTP BACKUP", "SMTP PORT BACKUP", "POP3 BACKUP", "POP3 PORT BACKUP",
                                         "POP3 USER BACKUP"};

void LogSkipped(const std::string& name, const std::string& why)
{
    Log("mail client account " + platform::Cp949ToUtf8(name) + " left as it is: " + why + ".");
}

bool HasBackup(platform::HKEY account)
{
    return std::any_of(std::begin(kBackupValues), std::end(kBackupValues), [account](const char* value) {
        return platform::RegQueryValueEx(account, value, nullptr, nullptr, nullptr) == platform::ERROR_SUCCESS;
    });
}

// The POP3 accounts that still carry a backup value, in the order the restore visits them.
std::vector<std::string> AccountsWithBackups()
{
    std::vector<std::string> names;
    accountkeys::ForEachPop3Account([&names](platform::HKEY account, const std::string& name) {
        if (HasBackup(account))
            names.push_back(name);
        return true;
    });
    return names;
}

std::vector<std::string> SpamBoxes()
{
    accountkeys::Key accounts;
    if (!accountkeys::OpenAccounts(accounts))
        return {};
    return accountkeys::SpamBoxAccounts(accounts.get());
}

// The names of `all` that are not in `left`, in their order.
std::vector<std::string> Without(std::vector<std::string> all, const std::vector<std::string>& left)
{
    std::erase_if(all,
                  [&left](const std::string& name) { return std::find(left.begin(), left.end(), name) != left.end(); });
    return all;
}

}  // namespace

bool IsMainProgramName(std::string_view name)
{
    std::string_view main = platform::kMainProgramFile.installed;
    return name.size() == main.size() && strncasecmp(name.data(), main.data(), main.size()) == 0;
}

bool MainProgramRunning(const std::vector<platform::ProcessInfo>& processes)
{
    return std::any_of(processes.begin(), processes.end(),
                       [](const platform::ProcessInfo& process) { return IsMainProgramName(process.name); });
}

bool MainProgramRunning() { return MainProgramRunning(platform::ListProcesses()); }

Uninstaller::Uninstaller(fs::path programDirectory) : m_programDirectory(std::move(programDirectory)) {}

Outcome Uninstaller::Accept()
{
    Outcome outcome;
    std::vector<std::string> spamBoxes = SpamBoxes();
    std::vector<std::string> linked = AccountsWithBackups();
    accountkeys::RestoreMailClient(LogSkipped);
    outcome.spamBoxesDeleted = Without(spamBoxes, SpamBoxes());
    outcome.accountsKept = AccountsWithBackups();
    outcome.accountsRestored = Without(linked, outcome.accountsKept);
    Log("spam-box accounts deleted: " + std::to_string(outcome.spamBoxesDeleted.size()) +
        ", POP3 accounts restored: " + std::to_string(outcome.accountsRestored.size()));

    outcome.removal = FindRemoval(m_programDirectory);
    if (outcome.removal)
        outcome.removalStarted = StartRemoval(*outcome.removal);
    else
        Log("nothing to remove: " + m_programDirectory.string() + " holds no installation");
    return outcome;
}

std::vector<std::string> Uninstaller::Plan() const
{
    std::vector<std::string> lines;
    std::vector<std::string> spamBoxes = SpamBoxes();
    for (const std::string& name : spamBoxes)
        lines.push_back("delete the spam-box account " + platform::Cp949ToUtf8(name));
    if (spamBoxes.empty())
        lines.push_back("no spam-box account to delete");
    std::vector<std::string> restore = AccountsWithBackups();
    for (const std::string& name : restore)
        lines.push_back("restore the POP3 account " + platform::Cp949ToUtf8(name) + " from its backups");
    if (restore.empty())
        lines.push_back("no POP3 account to restore");
    if (std::optional<Removal> removal = FindRemoval(m_programDirectory))
        lines.push_back("start the removal: " + removal->shown);
    else
        lines.push_back("nothing to remove: " + m_programDirectory.string() + " holds no installation");
    return lines;
}

fs::path ExecutableDirectory()
{
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path(ec) : exe.parent_path();
}

}  // namespace unmoor
