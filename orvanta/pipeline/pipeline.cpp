#include "orvanta/pipeline/pipeline.h"

#include <memory>
#include <mutex>

#include "components/almanac/program_info.h"
#include "harborage/folder_store.h"
#include "orvanta/core/log.h"
#include "orvanta/core/settings.h"
#include "orvanta/pipeline/pipeline_state.h"

namespace orvanta::pipeline {
namespace {

std::mutex g_lock;   // guards the fields below, not the filter sets themselves
UiHooks g_hooks;
PipelineContext g_context;
// Never freed before the process ends; a later CreateFilterSets keeps the old sets alive
// too, since a running examination may still hold them.
std::vector<std::unique_ptr<FilterSets>> g_allSets;
bool g_saveHookInstalled = false;

}  // namespace

namespace detail {

UiHooks Hooks() {
    std::lock_guard guard(g_lock);
    return g_hooks;
}

}  // namespace detail

void SetUiHooks(UiHooks hooks) {
    std::lock_guard guard(g_lock);
    g_hooks = std::move(hooks);
}

void CreateFilterSets(platform::HWND mainWindow, const std::string& dataDirectory,
                      const std::string& storeDirectory) {
    auto sets = std::make_unique<FilterSets>(dataDirectory);
    char footer[1000] = {};
    CProgramInfo::GetHTMLFooter(footer, 1);

    bool installHook = false;
    {
        std::lock_guard guard(g_lock);
        g_context.window = mainWindow;
        g_context.dataDirectory = dataDirectory;
        g_context.storeDirectory = storeDirectory;
        g_context.htmlFooter = footer;
        g_context.sets = sets.get();
        g_allSets.push_back(std::move(sets));
        installHook = !g_saveHookInstalled;
        g_saveHookInstalled = true;
    }
    if (installHook)
        AddSettingsSaveHook([] {
            if (FilterSets* current = Filters()) current->Save();
        });
}

bool EnsureInbox() {
    std::string root = Context().storeDirectory;
    if (root.empty()) return false;
    char name[100] = {};
    CIMAPFolder::EncodingFolder("INBOX", name, sizeof name);
    CIMAPFolder store(root.c_str());
    if (store.ExistFolder(name)) return true;
    if (store.CreateFolder(name, 1, 0)) return true;
    LogUtf8("The store folder INBOX could not be created in " + root);
    return false;
}

FilterSets* Filters() {
    std::lock_guard guard(g_lock);
    return g_context.sets;
}

PipelineContext Context() {
    std::lock_guard guard(g_lock);
    return g_context;
}

int Examine(CPop3Client& client, ProxyMesgList& list) {
    PipelineContext context = Context();
    if (!context.sets) {
        LogUtf8("Mail examination asked for before the filter sets exist.");
        return 0;
    }
    return Examine(context, client, list);
}

}  // namespace orvanta::pipeline
