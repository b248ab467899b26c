#include "orvanta/ui/smtp_choice_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

SmtpChoiceDialog::SmtpChoiceDialog(const QStringList& servers, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(U(text::kSmtpChoiceTitle));
    auto* layout = new QVBoxLayout(this);
    auto* question = new QLabel(U(text::kSmtpChoiceText));
    question->setWordWrap(true);
    layout->addWidget(question);
    auto* form = new QFormLayout;
    m_servers = new QComboBox;
    m_servers->addItems(servers);
    m_servers->setCurrentIndex(0);
    m_servers->setAccessibleName(U(text::kSmtpChoiceServer));
    form->addRow(U(text::kSmtpChoiceServer), m_servers);
    layout->addLayout(form);
    m_always = new QCheckBox(U(text::kSmtpChoiceAlways));
    layout->addWidget(m_always);
    auto* buttons = new QDialogButtonBox;
    m_ok = buttons->addButton(U(text::kOk), QDialogButtonBox::AcceptRole);
    m_ok->setDefault(true);
    buttons->addButton(U(text::kCancel), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(fontMetrics().horizontalAdvance(question->text()) / 2 + 40);
}

std::optional<SmtpServerChoice> SmtpChoiceDialog::Ask()
{
    if (exec() != QDialog::Accepted || m_servers->currentIndex() < 0)
        return std::nullopt;
    return SmtpServerChoice{static_cast<size_t>(m_servers->currentIndex()), m_always->isChecked()};
}

}  // namespace orvanta::ui
