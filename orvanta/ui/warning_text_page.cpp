#include "orvanta/ui/warning_text_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "orvanta/core/settings.h"
#include "orvanta/pipeline/spam_notices.h"
#include "orvanta/ui/cp949.h"
#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {

WarningTextPage::WarningTextPage(QWidget* parent) : QWidget(parent)
{
    m_use = new QCheckBox(QString::fromUtf8(text::kUseWarn));
    auto* choose = new QLabel(QString::fromUtf8(text::kChooseWarn));
    m_choice = new QComboBox;
    for (const char* name : {text::kWarn1, text::kWarn2, text::kWarn3})
        m_choice->addItem(QString::fromUtf8(name));
    m_choice->setAccessibleName(choose->text());
    choose->setBuddy(m_choice);
    m_text = new QPlainTextEdit;
    m_text->setAccessibleName(QString::fromUtf8(text::kTabWarning));
    m_edit = new QPushButton(QString::fromUtf8(text::kEditWarn));
    m_done = new QPushButton(QString::fromUtf8(text::kEditDone));

    auto* top = new QHBoxLayout;
    top->addWidget(choose);
    top->addWidget(m_choice);
    top->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_edit);
    buttons->addWidget(m_done);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_use);
    layout->addLayout(top);
    layout->addWidget(m_text, 1);
    layout->addLayout(buttons);

    m_use->setChecked(GetSetting(IntSetting::UseWarn) != 0);
    const int chosen = GetSetting(IntSetting::SelectWarn);
    m_choice->setCurrentIndex(chosen >= 0 && chosen < 3 ? chosen : 0);
    connect(m_use, &QCheckBox::toggled, this, [this](bool on) {
        SetSetting(IntSetting::UseWarn, on ? 1 : 0);
        if (!on && m_editing)
            FinishEditing(false);
        UpdateEnabling();
    });
    connect(m_choice, &QComboBox::currentIndexChanged, this, [this](int index) {
        SetSetting(IntSetting::SelectWarn, index);
        ShowChosen();
    });
    connect(m_edit, &QPushButton::clicked, this, &WarningTextPage::StartEditing);
    connect(m_done, &QPushButton::clicked, this, [this] { FinishEditing(true); });
    ShowChosen();
    UpdateEnabling();
}

void WarningTextPage::ShowChosen()
{
    const int index = m_choice->currentIndex();
    m_text->setPlainText(FromCp949(pipeline::WarningTexts()[static_cast<size_t>(index < 0 ? 0 : index)]));
}

void WarningTextPage::StartEditing()
{
    m_editing = true;
    UpdateEnabling();
    m_text->setFocus();
}

void WarningTextPage::FinishEditing(bool keep)
{
    if (keep) {
        // The mail's lines end in CR LF, as the stored texts do.
        QString text = m_text->toPlainText();
        text.replace("\r\n", "\n").replace("\n", "\r\n");
        pipeline::WarningTexts()[static_cast<size_t>(m_choice->currentIndex())] = ToCp949(text);
    } else {
        ShowChosen();
    }
    m_editing = false;
    UpdateEnabling();
}

void WarningTextPage::hideEvent(QHideEvent* event)
{
    if (m_editing)
        m_text->undo();
    QWidget::hideEvent(event);
}

void WarningTextPage::UpdateEnabling()
{
    const bool on = m_use->isChecked();
    m_choice->setEnabled(on);
    m_text->setEnabled(on);
    m_text->setReadOnly(!m_editing);
    m_edit->setEnabled(on && !m_editing);
    m_done->setEnabled(on && m_editing);
}

}  // namespace orvanta::ui
