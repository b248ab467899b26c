#pragma once

#include <memory>
#include <string>

class CPassFilter;
class CProgramFilter;
class CSpamFilter;

namespace orvanta::pipeline {

// The four long-lived filter objects of the program. The POP3 proxy's thread matches against
// them while the user interface (and the mail store's feedback) edits them: whoever touches
// a block list or the pass list holds that object's lock (it is a lockable) for the whole of
// one match or one edit. The program filter holds no data and needs no lock.
struct FilterSets {
    // Created from the data directory (ends in '/') in this order: online, private, program,
    // pass. A missing file gives an empty set.
    explicit FilterSets(const std::string& dataDirectory);
    ~FilterSets();
    FilterSets(const FilterSets&) = delete;
    FilterSets& operator=(const FilterSets&) = delete;

    // Writes the pass list and the private block list to their files, each under its lock.
    void Save();

    std::unique_ptr<CSpamFilter> online;  // "online.flt"
    std::unique_ptr<CSpamFilter> priv;    // "private.flt"
    std::unique_ptr<CProgramFilter> program;
    std::unique_ptr<CPassFilter> pass;  // "pass.flt"
};

// "dir" + "/" + "name", with the doubled slash of a directory that already ends in one
// kept, as the program builds all its data paths.
std::string DataPath(const std::string& directory, const char* name);

}  // namespace orvanta::pipeline
