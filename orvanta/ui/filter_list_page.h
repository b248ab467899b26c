#pragma once

#include <QWidget>

#include <map>

#include "orvanta/core/settings.h"

class QCheckBox;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;

namespace orvanta::ui {

class FindWindow;

// What the private filter page and the pass filter page share: the "use" check box of their
// setting, a list with full-row, multiple selection whose rows carry the filter's FID, the
// buttons "추가", "편집", "삭제", "검색", the find window, sorting by a column header click
// (ascending and descending in turn) and deleting the selected rows from the bottom up after
// a question. The pages fill the rows and carry out the edits on their filter set.
class FilterListPage : public QWidget {
    Q_OBJECT

public:
    // The item data role of a row's FID, and of the key a sortable column sorts by.
    static constexpr int kFidRole = Qt::UserRole;
    static constexpr int kSortRole = Qt::UserRole + 1;

    QTreeWidget* List() const { return m_list; }
    QCheckBox* UseBox() const { return m_use; }
    QPushButton* AddButton() const { return m_add; }
    QPushButton* EditButton() const { return m_edit; }
    QPushButton* DeleteButton() const { return m_delete; }
    QPushButton* SearchButton() const { return m_search; }
    FindWindow* Finder() const { return m_finder; }

    // The FIDs of the selected rows, top to bottom.
    std::vector<int> SelectedFids() const;
    // A click on column `column`'s header.
    void SortBy(int column);
    // Deletes the selected rows (Delete and the question are the page's); true when any went.
    bool DeleteSelected(bool asked);
    // Reads the hit counts again (after an examination).
    virtual void RefreshCounts() = 0;

protected:
    // `useSetting` is the page's "use" setting; `sortable` maps a column to whether a click on
    // its header sorts.
    FilterListPage(IntSetting useSetting, const char* useText, QStringList columns, std::vector<int> widths,
                   std::vector<bool> sortable, QWidget* parent);

    // A new row carrying `fid`; the page fills its texts and sort keys.
    QTreeWidgetItem* AppendRow(int fid);
    QTreeWidgetItem* RowOf(int fid) const;
    QVBoxLayout* Layout() const { return m_layout; }
    void UpdateEnabling();

    virtual void AddFilter() = 0;
    virtual void EditFilter(int fid) = 0;
    virtual void RemoveFilter(int fid) = 0;

private:
    void AskAndDelete();

    IntSetting m_useSetting;
    std::vector<bool> m_sortable;
    std::map<int, bool> m_descending;  // the order of the next click, per column
    QVBoxLayout* m_layout;
    QCheckBox* m_use;
    QTreeWidget* m_list;
    QPushButton* m_add;
    QPushButton* m_edit;
    QPushButton* m_delete;
    QPushButton* m_search;
    FindWindow* m_finder;
};

}  // namespace orvanta::ui
