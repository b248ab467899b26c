#include "orvanta/ui/pass_filter_page.h"

#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <mutex>
#include <set>
#include <strings.h>

#include "orvanta/ui/cp949.h"
#include "orvanta/ui/ui_texts.h"
#include "sievelet/pass_filter.h"

namespace orvanta::ui {

PassFilterPage::PassFilterPage(CPassFilter& entries, QWidget* parent)
    : FilterListPage(IntSetting::UsePass, text::kUsePass,
                     {QString::fromUtf8(text::kColumnSender), QString::fromUtf8(text::kColumnPasses)}, {230, 60},
                     {true, true}, parent),
      m_entries(entries)
{
    auto* intro = new QLabel(QString::fromUtf8(text::kPassIntro));
    intro->setWordWrap(true);
    Layout()->insertWidget(1, intro);
    RefreshCounts();
}

void PassFilterPage::Fill(QTreeWidgetItem* row, const PASS_FILTER& entry)
{
    row->setText(kSender, FromCp949(entry.address));
    row->setData(kSender, kSortRole, QByteArray(entry.address));
    row->setText(kPasses, QString::number(entry.hit));
    row->setData(kPasses, kSortRole, static_cast<qlonglong>(entry.hit));
}

void PassFilterPage::RefreshCounts()
{
    std::vector<PASS_FILTER> entries;
    {
        std::lock_guard guard(m_entries);
        for (int i = 0; i < m_entries.GetSize(); ++i)
            entries.push_back(*m_entries.GetPassFilter(i));
    }
    std::set<int> present;
    for (const PASS_FILTER& entry : entries) {
        present.insert(entry.fid);
        QTreeWidgetItem* row = RowOf(entry.fid);
        Fill(row ? row : AppendRow(entry.fid), entry);
    }
    for (int row = List()->topLevelItemCount() - 1; row >= 0; --row)
        if (!present.count(List()->topLevelItem(row)->data(0, kFidRole).toInt()))
            delete List()->takeTopLevelItem(row);
    UpdateEnabling();
}

bool PassFilterPage::Run(PassFilterDialog& dialog)
{
    return m_dialogHook ? m_dialogHook(dialog) : dialog.exec() == QDialog::Accepted;
}

void PassFilterPage::AddFilter()
{
    PassFilterDialog dialog({}, {}, this);
    if (!Run(dialog))
        return;
    const std::string address = ToCp949(dialog.Address());
    PASS_FILTER added{};
    {
        std::lock_guard guard(m_entries);
        for (int i = 0; i < m_entries.GetSize(); ++i)
            if (strcasecmp(m_entries.GetPassFilter(i)->address, address.c_str()) == 0)
                return;  // that address is on the list already
        const PASS_FILTER* entry = m_entries.AddPassFilter(address.c_str(), ToCp949(dialog.Description()).c_str());
        if (!entry)
            return;
        added = *entry;
    }
    Fill(AppendRow(added.fid), added);
}

void PassFilterPage::EditFilter(int fid)
{
    QString address, description;
    {
        std::lock_guard guard(m_entries);
        const PASS_FILTER* entry = m_entries.GetPassFilterByFID(fid);
        if (!entry)
            return;
        address = FromCp949(entry->address);
        description = FromCp949(entry->description);
    }
    PassFilterDialog dialog(address, description, this);
    if (!Run(dialog))
        return;
    PASS_FILTER edited{};
    {
        std::lock_guard guard(m_entries);
        const PASS_FILTER* entry =
            m_entries.EditPassFilter(fid, ToCp949(dialog.Address()).c_str(), ToCp949(dialog.Description()).c_str());
        if (!entry)
            return;
        edited = *entry;
    }
    if (QTreeWidgetItem* row = RowOf(fid))
        Fill(row, edited);
}

void PassFilterPage::RemoveFilter(int fid)
{
    std::lock_guard guard(m_entries);
    m_entries.DelPassFilter(fid);
}

}  // namespace orvanta::ui
