#include "orvanta/ui/feedback_prompt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "orvanta/core/settings.h"
#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {
namespace {

constexpr int kMaxChoiceLength = 80;

}  // namespace

FeedbackPrompt::FeedbackPrompt(Kind kind, const QString& address, int timeoutMs, QWidget* parent)
    : QDialog(parent), m_kind(kind)
{
    const bool pass = kind == Kind::kPass;
    setWindowTitle(QString::fromUtf8(pass ? text::kPassPromptTitle : text::kBlockPromptTitle));
    auto* question = new QLabel(QString::fromUtf8(pass ? text::kPassPromptText : text::kBlockPromptText));
    m_choice = new QComboBox;
    m_choice->setEditable(true);
    m_choice->lineEdit()->setMaxLength(kMaxChoiceLength);
    m_choice->addItem(address);
    const int at = address.indexOf('@');
    m_choice->addItem(at >= 0 ? address.mid(at + 1) : address);
    m_choice->setCurrentIndex(0);
    m_choice->setAccessibleName(question->text());
    question->setBuddy(m_choice);
    m_doNotAsk = new QCheckBox(QString::fromUtf8(text::kDoNotAsk));
    m_add = new QPushButton(QString::fromUtf8(text::kPromptAdd));
    m_skip = new QPushButton(QString::fromUtf8(text::kPromptDoNotAdd));
    m_add->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_doNotAsk);
    buttons->addStretch();
    buttons->addWidget(m_add);
    buttons->addWidget(m_skip);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(m_choice);
    layout->addLayout(buttons);

    connect(m_add, &QPushButton::clicked, this, &FeedbackPrompt::Add);
    connect(m_skip, &QPushButton::clicked, this, &FeedbackPrompt::Skip);
    // Unanswered: as "추가안함", but the question stays on.
    m_timer.setSingleShot(true);
    m_timer.setInterval(timeoutMs);
    connect(&m_timer, &QTimer::timeout, this, &QDialog::reject);
}

std::optional<QString> FeedbackPrompt::Ask()
{
    m_answer.reset();
    m_timer.start();
    show();
    raise();
    activateWindow();
    exec();
    m_timer.stop();
    return m_answer;
}

void FeedbackPrompt::Add()
{
    const QString chosen = m_choice->currentText();
    // A pass entry needs an address; an empty block word is turned down by the caller.
    if (m_kind == Kind::kPass && chosen.isEmpty())
        return;
    if (m_doNotAsk->isChecked())
        SetSetting(m_kind == Kind::kPass ? IntSetting::AutoPass : IntSetting::AutoSpam, 1);
    m_answer = chosen;
    accept();
}

void FeedbackPrompt::Skip()
{
    if (m_doNotAsk->isChecked())
        SetSetting(m_kind == Kind::kPass ? IntSetting::AutoPass : IntSetting::AutoSpam, 2);
    reject();
}

}  // namespace orvanta::ui
