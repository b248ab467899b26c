#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace orvanta::ui {

// "필터찾기": finds rows of one list whose first column holds the text (case counts). Each
// search starts at the row after the previous hit and wraps to the first row after the last;
// a miss changes nothing and the next search starts at the first row.
class FindWindow : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMaxLength = 30;

    explicit FindWindow(QTreeWidget* list, QWidget* parent = nullptr);

    // One press of "찾기": true on a hit (selected and scrolled into view).
    bool FindNext();

    QLineEdit* Text() const { return m_text; }
    QPushButton* FindButton() const { return m_find; }

private:
    QTreeWidget* m_list;
    QLineEdit* m_text;
    QPushButton* m_find;
    int m_lastHit = -1;
};

}  // namespace orvanta::ui
