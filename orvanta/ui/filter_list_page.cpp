#include "orvanta/ui/filter_list_page.h"

#include <algorithm>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "orvanta/ui/find_window.h"
#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {
namespace {

// A row that sorts by its sort keys: numbers as numbers, texts by their bytes.
class Row : public QTreeWidgetItem {
public:
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const QVariant a = data(column, FilterListPage::kSortRole);
        const QVariant b = other.data(column, FilterListPage::kSortRole);
        if (a.typeId() == QMetaType::QByteArray)
            return a.toByteArray() < b.toByteArray();
        return a.toLongLong() < b.toLongLong();
    }
};

}  // namespace

FilterListPage::FilterListPage(IntSetting useSetting, const char* useText, QStringList columns, std::vector<int> widths,
                               std::vector<bool> sortable, QWidget* parent)
    : QWidget(parent), m_useSetting(useSetting), m_sortable(std::move(sortable))
{
    m_use = new QCheckBox(QString::fromUtf8(useText));
    m_list = new QTreeWidget;
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setHeaderLabels(columns);
    m_list->setAccessibleName(m_use->text());
    // The widths are for 96 dpi; larger fonts get wider columns.
    for (size_t i = 0; i < widths.size(); ++i)
        m_list->setColumnWidth(static_cast<int>(i), widths[i] * std::max(96, logicalDpiX()) / 96);
    m_list->header()->setSectionsClickable(true);
    m_list->header()->setSortIndicatorShown(false);
    m_add = new QPushButton(QString::fromUtf8(text::kAdd));
    m_edit = new QPushButton(QString::fromUtf8(text::kEdit));
    m_delete = new QPushButton(QString::fromUtf8(text::kDelete));
    m_search = new QPushButton(QString::fromUtf8(text::kSearch));
    m_finder = new FindWindow(m_list, this);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {m_add, m_edit, m_delete, m_search})
        buttons->addWidget(b);
    m_layout = new QVBoxLayout(this);
    m_layout->addWidget(m_use);
    m_layout->addWidget(m_list, 1);
    m_layout->addLayout(buttons);

    m_use->setChecked(GetSetting(m_useSetting) != 0);
    connect(m_use, &QCheckBox::toggled, this, [this](bool on) {
        SetSetting(m_useSetting, on ? 1 : 0);
        UpdateEnabling();
    });
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &FilterListPage::UpdateEnabling);
    connect(m_list->header(), &QHeaderView::sectionClicked, this, &FilterListPage::SortBy);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { EditFilter(item->data(0, kFidRole).toInt()); });
    connect(m_add, &QPushButton::clicked, this, [this] { AddFilter(); });
    connect(m_edit, &QPushButton::clicked, this, [this] {
        std::vector<int> fids = SelectedFids();
        if (!fids.empty())
            EditFilter(fids.front());
    });
    connect(m_delete, &QPushButton::clicked, this, &FilterListPage::AskAndDelete);
    connect(m_search, &QPushButton::clicked, this, [this] {
        m_finder->show();
        m_finder->raise();
        m_finder->activateWindow();
    });
    UpdateEnabling();
}

std::vector<int> FilterListPage::SelectedFids() const
{
    std::vector<int> fids;
    for (int row = 0; row < m_list->topLevelItemCount(); ++row)
        if (m_list->topLevelItem(row)->isSelected())
            fids.push_back(m_list->topLevelItem(row)->data(0, kFidRole).toInt());
    return fids;
}

void FilterListPage::SortBy(int column)
{
    if (column < 0 || static_cast<size_t>(column) >= m_sortable.size() || !m_sortable[static_cast<size_t>(column)])
        return;
    bool& descending = m_descending[column];
    m_list->sortItems(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    descending = !descending;
}

bool FilterListPage::DeleteSelected(bool asked)
{
    if (!asked)
        return false;
    std::vector<int> fids = SelectedFids();
    // From the bottom up, so the rows still to go keep their places.
    for (auto it = fids.rbegin(); it != fids.rend(); ++it) {
        RemoveFilter(*it);
        delete RowOf(*it);
    }
    UpdateEnabling();
    return !fids.empty();
}

QTreeWidgetItem* FilterListPage::AppendRow(int fid)
{
    auto* row = new Row;
    row->setData(0, kFidRole, fid);
    m_list->addTopLevelItem(row);
    return row;
}

QTreeWidgetItem* FilterListPage::RowOf(int fid) const
{
    for (int row = 0; row < m_list->topLevelItemCount(); ++row)
        if (m_list->topLevelItem(row)->data(0, kFidRole).toInt() == fid)
            return m_list->topLevelItem(row);
    return nullptr;
}

void FilterListPage::UpdateEnabling()
{
    const bool on = m_use->isChecked();
    const bool selected = !m_list->selectedItems().isEmpty();
    m_list->setEnabled(on);
    m_add->setEnabled(on);
    m_search->setEnabled(on);
    m_edit->setEnabled(on && selected);
    m_delete->setEnabled(on && selected);
}

void FilterListPage::AskAndDelete()
{
    if (m_list->selectedItems().isEmpty())
        return;
    const bool ok =
        QMessageBox::question(this, QString::fromUtf8(text::kCaption), QString::fromUtf8(text::kDeleteQuestion),
                              QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    DeleteSelected(ok);
}

}  // namespace orvanta::ui
