#pragma once

#include <string>

#include "orvanta/update/update_environment.h"

namespace orvanta {
class FrontEnd;
}

// The updater program: its start, and its one-time download from the update location.
namespace orvanta::update {

// Starts the updater (`freshet` in the program directory) without arguments and without
// waiting for it. False when it could not be started.
bool StartUpdater(const std::string& programDirectory);

enum class FetchOutcome {
    kAlreadyFetched,  // "UPDATE_PROGRAM" is 4: nothing asked
    kNotOnServer,     // no length announced (the box 61209 was shown)
    kDownloadFailed,  // the download did not complete; tried again at the next start
    kCopyFailed,      // the downloaded file could not be put in place
    kFetched,         // in place, "UPDATE_PROGRAM" set to 4
};

// Once per installation, at start: asks the update location for the updater program's size,
// downloads it into the scratch directory and copies it over the updater in the program
// directory. "UPDATE_PROGRAM" 4 marks it done; only a completed copy sets it.
FetchOutcome FetchUpdaterProgram(const UpdateEnvironment& env, FrontEnd& frontEnd);

}  // namespace orvanta::update
