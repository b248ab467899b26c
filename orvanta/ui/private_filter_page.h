#pragma once

#include "orvanta/ui/filter_list_page.h"
#include "orvanta/ui/private_filter_dialog.h"

class CSpamFilter;
struct SPAM_FILTER;

namespace orvanta::ui {

// "개인차단필터": the private block rules ("private.flt"), with their kind, word, spam-box
// folder (display form), delete-at-once mark and hit count.
class PrivateFilterPage : public FilterListPage {
    Q_OBJECT

public:
    enum Column { kKind, kWord, kFolder, kDeleteAtOnce, kHits };

    // `dialogHook`, when set, stands in for the dialog's exec() (tests): it gets the dialog and
    // returns whether it was accepted.
    using DialogHook = std::function<bool(PrivateFilterDialog&)>;

    PrivateFilterPage(CSpamFilter& rules, PrivateFilterDialog::FolderChooser chooser, QWidget* parent = nullptr);

    // The rows again from the rule set: new rules appended, changed ones rewritten, removed
    // ones gone.
    void RefreshCounts() override;
    void SetDialogHook(DialogHook hook) { m_dialogHook = std::move(hook); }

protected:
    void AddFilter() override;
    void EditFilter(int fid) override;
    void RemoveFilter(int fid) override;

private:
    bool Run(PrivateFilterDialog& dialog);
    void Fill(QTreeWidgetItem* row, const SPAM_FILTER& rule);

    CSpamFilter& m_rules;
    PrivateFilterDialog::FolderChooser m_chooser;
    DialogHook m_dialogHook;
};

}  // namespace orvanta::ui
