#include "orvanta/pipeline/filter_sets.h"

#include <mutex>

#include "orvanta/core/log.h"
#include "sievelet/sievelet.h"

namespace orvanta::pipeline {

std::string DataPath(const std::string& directory, const char* name) { return directory + "/" + name; }

FilterSets::FilterSets(const std::string& dataDirectory)
    : online(std::make_unique<CSpamFilter>(DataPath(dataDirectory, "online.flt").c_str())),
      priv(std::make_unique<CSpamFilter>(DataPath(dataDirectory, "private.flt").c_str())),
      program(std::make_unique<CProgramFilter>()),
      pass(std::make_unique<CPassFilter>(DataPath(dataDirectory, "pass.flt").c_str()))
{
    for (const CSpamFilter* list : {online.get(), priv.get()})
        if (!list->GetRefusal().empty())
            LogUtf8("Filter file " + list->GetPath() + " not loaded: " + list->GetRefusal() +
                    ". Its rules are not used and the file is left as it is.");
}

FilterSets::~FilterSets() = default;

void FilterSets::Save()
{
    {
        std::lock_guard guard(*pass);
        pass->SavePassFilter();
    }
    {
        std::lock_guard guard(*priv);
        priv->SaveSpamFilter();
    }
}

}  // namespace orvanta::pipeline
