#pragma once

#include <ctime>
#include <string>

// Automatic clean-up of the local mail store by the "Del_Term" setting.
namespace orvanta {

// Deletes every message file ("mesg????????.msg") in every folder below the store
// directory when "Del_Term" (2 to 11) says that at least Del_Term - 1 whole days have passed
// since the date in "Del_Year"/"Del_Month"/"Del_Day", then stores today's date there. Index
// files and files directly in the store root stay. `now` is the current time (tests pass
// their own). Returns the number of files deleted.
int DeleteOldStoredMail(const std::string& storeDirectory, std::time_t now);

}  // namespace orvanta
