#include "orvanta/ui/find_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {

FindWindow::FindWindow(QTreeWidget* list, QWidget* parent) : QDialog(parent), m_list(list)
{
    setWindowTitle(QString::fromUtf8(text::kFindTitle));
    auto* label = new QLabel(QString::fromUtf8(text::kFindLabel));
    m_text = new QLineEdit;
    m_text->setMaxLength(kMaxLength);
    m_text->setAccessibleName(label->text());
    label->setBuddy(m_text);
    m_find = new QPushButton(QString::fromUtf8(text::kFind));
    m_find->setDefault(true);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_text);
    layout->addWidget(m_find);
    connect(m_find, &QPushButton::clicked, this, [this] { FindNext(); });
}

bool FindWindow::FindNext()
{
    const QString wanted = m_text->text();
    const int rows = m_list->topLevelItemCount();
    const int start = (m_lastHit < 0 || m_lastHit + 1 >= rows) ? 0 : m_lastHit + 1;
    for (int row = start; row < rows; ++row) {
        QTreeWidgetItem* item = m_list->topLevelItem(row);
        if (!item->text(0).contains(wanted, Qt::CaseSensitive))
            continue;
        m_list->clearSelection();
        item->setSelected(true);
        m_list->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
        m_list->scrollToItem(item);
        m_lastHit = row;
        return true;
    }
    m_lastHit = -1;
    return false;
}

}  // namespace orvanta::ui
