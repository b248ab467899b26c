#pragma once

#include <functional>
#include <string>

// The program's settings: every value lives in memory in one process-wide table and is
// read and changed through Get/Set; only LoadSettings and SaveSettings touch the registry.
// The proxies' threads read settings while the user interface changes them, so every access
// takes the table's lock.
namespace orvanta {

// Registry key of the program; each section is a subkey of it.
inline constexpr const char* kRegistryRoot = "Software\\Pellix Technology\\Orvanta";
inline constexpr const char* kProgramTitle = "Orvanta Zidevoz";

enum class IntSetting {
    Pop3Port,
    SmtpPort,
    ImapPort,
    ImapLocal,
    UseOnline,
    UsePrivate,
    UsePass,
    FilterPriority,
    FilterSender,
    FilterSubject,
    FilterContent,
    FilterMesg,
    FilterFileName,
    DelLog,
    DelTerm,
    DelYear,
    DelMonth,
    DelDay,
    UseWarn,
    SelectWarn,
    AutoPass,
    AutoSpam,
    SelectSmtpPort,
    SelectSmtpAlways,
    UpdateServer,
    UpdateTerm,
    UpdateYear,
    UpdateMonth,
    UpdateDay,
    AutoStart,
    ExamSeconds,    // longest examination at one log-in, in seconds; the rest waits for the next
    TlsRequired,    // 1: refuse a mail server that offers no TLS
    UseLearn,       // 1: the learning filter scores what the other filters pass
    UpdateProgram,  // section "UNINSTALL"
    UninstallFlag,  // section "UNINSTALL", "FLAG": 1 suppresses the uninstaller's menu entry; read only
    // Read only, not in the settings pages: how long the proxies wait for a real server, in
    // seconds: for the connection, and for each reply (and each blocked send).
    ServerConnectSeconds,
    ServerReplySeconds,
    Count
};

enum class StringSetting {
    SelectSmtpServer,
    NoticeDay,
    ReadDay,
    AccountKey,      // always "00002002": set at load time, only ever written
    ProgramVersion,  // section "UPDATE", value "Orvanta.exe": read at load time only
    ImapPassword,    // the IMAP server's LOGIN password for clients on other hosts (IMAP_LOCAL 0)
    Count
};

// One row of the settings table: where a value lives and the capitalisation it is read
// with and written with (the registry ignores case when looking up, so both find it).
struct SettingInfo {
    const char* section;
    const char* readName;
    const char* writtenName;  // nullptr: never written by SaveSettings
    int intDefault;
    const char* stringDefault;
};

const SettingInfo& Describe(IntSetting id);
const SettingInfo& Describe(StringSetting id);

int GetSetting(IntSetting id);
void SetSetting(IntSetting id, int value);
std::string GetSetting(StringSetting id);
void SetSetting(StringSetting id, const std::string& value);

// Every value back to its default (tests, and the state before the first load).
void ResetSettings();

// Components that keep their own files next to the settings (update site list, warning
// texts, filter sets) register here; LoadSettings runs the load hooks after the registry
// values, SaveSettings runs the save hooks before writing them.
void AddSettingsLoadHook(std::function<void()> hook);
void AddSettingsSaveHook(std::function<void()> hook);
void ClearSettingsHooks();

// Reads every value with its default; false only when the registry could not be opened
// (the defaults are then in effect).
bool LoadSettings();
// Writes every value (the "UPDATE" version and the "INFO" values excepted).
bool SaveSettings();

// "Program Name" and "Program Path" under "INFO", written at every start so the updater can
// find the running program's window.
bool WriteProgramInfo(const std::string& programDirectory);

}  // namespace orvanta
