#include "orvanta/ui/private_filter_page.h"

#include <QTreeWidget>

#include <mutex>
#include <set>
#include <strings.h>

#include "orvanta/pipeline/folder_choice.h"
#include "orvanta/ui/cp949.h"
#include "orvanta/ui/ui_texts.h"
#include "sievelet/spam_filter.h"

namespace orvanta::ui {

PrivateFilterPage::PrivateFilterPage(CSpamFilter& rules, PrivateFilterDialog::FolderChooser chooser, QWidget* parent)
    : FilterListPage(IntSetting::UsePrivate, text::kUsePrivate,
                     {QString::fromUtf8(text::kColumnKind), QString::fromUtf8(text::kColumnWord),
                      QString::fromUtf8(text::kColumnFolder), QString::fromUtf8(text::kColumnDeleteAtOnce),
                      QString::fromUtf8(text::kColumnHits)},
                     {80, 150, 110, 60, 60}, {true, true, false, false, true}, parent),
      m_rules(rules), m_chooser(std::move(chooser))
{
    RefreshCounts();
}

void PrivateFilterPage::Fill(QTreeWidgetItem* row, const SPAM_FILTER& rule)
{
    row->setText(kKind, FromCp949(rule.GetPropertyName()));
    row->setData(kKind, kSortRole, static_cast<int>(rule.property));
    row->setText(kWord, FromCp949(rule.word));
    row->setData(kWord, kSortRole, QByteArray(rule.word));
    row->setText(kFolder, FromCp949(pipeline::ShowInboxName(rule.folder)));
    row->setText(kDeleteAtOnce, rule.action == SPAM_ACTION_DELETE ? "O" : "X");
    row->setText(kHits, QString::number(rule.hit));
    row->setData(kHits, kSortRole, static_cast<qlonglong>(rule.hit));
}

void PrivateFilterPage::RefreshCounts()
{
    std::vector<SPAM_FILTER> rules;
    {
        std::lock_guard guard(m_rules);
        for (int i = 0; i < m_rules.GetSize(); ++i)
            rules.push_back(*m_rules.GetSpamFilter(i));
    }
    std::set<int> present;
    for (const SPAM_FILTER& rule : rules) {
        present.insert(rule.fid);
        QTreeWidgetItem* row = RowOf(rule.fid);
        Fill(row ? row : AppendRow(rule.fid), rule);
    }
    for (int row = List()->topLevelItemCount() - 1; row >= 0; --row)
        if (!present.count(List()->topLevelItem(row)->data(0, kFidRole).toInt()))
            delete List()->takeTopLevelItem(row);
    UpdateEnabling();
}

bool PrivateFilterPage::Run(PrivateFilterDialog& dialog)
{
    return m_dialogHook ? m_dialogHook(dialog) : dialog.exec() == QDialog::Accepted;
}

void PrivateFilterPage::AddFilter()
{
    PrivateFilterDialog::Values values;
    values.folder = FromCp949(pipeline::KoreanInboxName());
    PrivateFilterDialog dialog(values, m_chooser, this);
    if (!Run(dialog))
        return;
    values = dialog.Result();
    const std::string word = ToCp949(values.word);
    SPAM_FILTER added{};
    {
        std::lock_guard guard(m_rules);
        for (int i = 0; i < m_rules.GetSize(); ++i) {
            const SPAM_FILTER* rule = m_rules.GetSpamFilter(i);
            if (rule->property == values.kind && strcasecmp(rule->word, word.c_str()) == 0)
                return;  // the same word of the same kind is there already
        }
        const SPAM_FILTER* rule = m_rules.AddSpamFilter(
            true, SPAM_LEVEL_LOW, static_cast<unsigned char>(values.kind), 0, 0, word.c_str(),
            pipeline::MapInboxName(ToCp949(values.folder)).c_str(), ToCp949(values.description).c_str(),
            values.deleteAtOnce ? SPAM_ACTION_DELETE : SPAM_ACTION_STORE);
        if (!rule)
            return;
        added = *rule;
    }
    Fill(AppendRow(added.fid), added);
}

void PrivateFilterPage::EditFilter(int fid)
{
    PrivateFilterDialog::Values values;
    {
        std::lock_guard guard(m_rules);
        const SPAM_FILTER* rule = m_rules.GetSpamFilterByFID(fid);
        if (!rule)
            return;
        values = {rule->property, FromCp949(rule->word), FromCp949(rule->description),
                  FromCp949(pipeline::ShowInboxName(rule->folder)), rule->action == SPAM_ACTION_DELETE};
    }
    PrivateFilterDialog dialog(values, m_chooser, this);
    if (!Run(dialog))
        return;
    values = dialog.Result();
    SPAM_FILTER edited{};
    {
        std::lock_guard guard(m_rules);
        const SPAM_FILTER* rule = m_rules.EditSpamFilter(
            fid, true, SPAM_LEVEL_LOW, static_cast<unsigned char>(values.kind), 0, -1, ToCp949(values.word).c_str(),
            pipeline::MapInboxName(ToCp949(values.folder)).c_str(), ToCp949(values.description).c_str(),
            values.deleteAtOnce ? SPAM_ACTION_DELETE : SPAM_ACTION_STORE);
        if (!rule)
            return;
        edited = *rule;
    }
    if (QTreeWidgetItem* row = RowOf(fid))
        Fill(row, edited);
}

void PrivateFilterPage::RemoveFilter(int fid)
{
    std::lock_guard guard(m_rules);
    m_rules.DelSpamFilter(fid);
}

}  // namespace orvanta::ui
