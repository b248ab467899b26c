#pragma once

#include <functional>

#include "orvanta/ui/filter_list_page.h"
#include "orvanta/ui/pass_filter_dialog.h"

class CPassFilter;
struct PASS_FILTER;

namespace orvanta::ui {

// "통과필터": the pass list ("pass.flt"), with each entry's address and pass count.
class PassFilterPage : public FilterListPage {
    Q_OBJECT

public:
    enum Column { kSender, kPasses };
    using DialogHook = std::function<bool(PassFilterDialog&)>;

    explicit PassFilterPage(CPassFilter& entries, QWidget* parent = nullptr);

    void RefreshCounts() override;
    void SetDialogHook(DialogHook hook) { m_dialogHook = std::move(hook); }

protected:
    void AddFilter() override;
    void EditFilter(int fid) override;
    void RemoveFilter(int fid) override;

private:
    bool Run(PassFilterDialog& dialog);
    void Fill(QTreeWidgetItem* row, const PASS_FILTER& entry);

    CPassFilter& m_entries;
    DialogHook m_dialogHook;
};

}  // namespace orvanta::ui
