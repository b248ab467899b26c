#pragma once

#include <ctime>

#include "orvanta/update/update_environment.h"

// The update check at start: the web server names the update location, and when the update
// described there ("update.dat") is newer than the one the updater last installed, the
// updater is started.
namespace orvanta::update {

// Whether the automatic check is due at `now`: never with "Update_Term" below 1; after 3, 7
// or 10 whole days since the local midnight of the last check ("UPDATE_YEAR", "UPDATE_MONTH",
// "UPDATE_DAY") with 1, 2 or 3; at every start with any other value or when there was no
// check yet.
bool UpdateCheckDue(std::time_t now);

// The update date the updater last installed: "DATE" of the subkey "update", as a decimal
// number; 0 when it is missing or empty.
long long InstalledUpdateDate();

enum class CheckOutcome {
    kNotDue,         // the period has not run out: nothing was asked
    kNoLocation,     // the web server was not reached or named no update location
    kNoServerDate,   // "update.dat" was not reached or did not begin with "update"
    kUpToDate,       // the installed update is not older than the server's
    kNewerOnServer,  // the updater was started (or could not be: see the log)
};

// The check as the start-up runs it: the period test; the update location from the web
// server's CheckUpdate answer (then the check's date is recorded in the settings); the server
// date of "update.dat" there against the installed date. Nothing is shown to the user.
CheckOutcome CheckForUpdate(const UpdateEnvironment& env);

}  // namespace orvanta::update
