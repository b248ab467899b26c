#include "orvanta/ui/online_filter_page.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

#include "orvanta/core/settings.h"
#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {
namespace {

constexpr int kBasic = 1;
constexpr int kAdvanced = 3;
constexpr int kAdvancedWithProgram = 2;

}  // namespace

OnlineFilterPage::OnlineFilterPage(QWidget* parent) : QWidget(parent)
{
    m_use = new QCheckBox(QString::fromUtf8(text::kUseOnline));
    m_basic = new QRadioButton(QString::fromUtf8(text::kLevelBasic));
    m_advanced = new QRadioButton(QString::fromUtf8(text::kLevelAdvanced));
    m_program = new QRadioButton(QString::fromUtf8(text::kLevelProgram));
    m_sender = new QCheckBox(QString::fromUtf8(text::kScopeSender));
    m_subject = new QCheckBox(QString::fromUtf8(text::kScopeSubject));
    m_content = new QCheckBox(QString::fromUtf8(text::kScopeContent));
    m_mesg = new QCheckBox(QString::fromUtf8(text::kScopeMesg));
    m_fileName = new QCheckBox(QString::fromUtf8(text::kScopeFileName));

    auto* levels = new QVBoxLayout;
    for (QRadioButton* b : {m_basic, m_advanced, m_program})
        levels->addWidget(b);
    auto* scopes = new QHBoxLayout;
    for (QCheckBox* b : {m_sender, m_subject, m_content, m_mesg, m_fileName})
        scopes->addWidget(b);
    scopes->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_use);
    layout->addLayout(levels);
    layout->addLayout(scopes);
    layout->addStretch();

    auto store = [this](QAbstractButton* box, IntSetting setting) {
        connect(box, &QAbstractButton::toggled, this, [this, setting](bool on) {
            if (m_loading)
                return;
            SetSetting(setting, on ? 1 : 0);
            UpdateEnabling();
        });
    };
    store(m_use, IntSetting::UseOnline);
    store(m_sender, IntSetting::FilterSender);
    store(m_subject, IntSetting::FilterSubject);
    store(m_content, IntSetting::FilterContent);
    store(m_mesg, IntSetting::FilterMesg);
    store(m_fileName, IntSetting::FilterFileName);
    auto level = [this](QRadioButton* button, int priority) {
        connect(button, &QRadioButton::toggled, this, [this, priority](bool on) {
            if (m_loading || !on)
                return;
            SetSetting(IntSetting::FilterPriority, priority);
            UpdateEnabling();
        });
    };
    level(m_basic, kBasic);
    level(m_advanced, kAdvanced);
    level(m_program, kAdvancedWithProgram);
    Reload();
}

QRadioButton* OnlineFilterPage::LevelButton(int priority) const
{
    return priority == kBasic ? m_basic : priority == kAdvanced ? m_advanced : m_program;
}

void OnlineFilterPage::Reload()
{
    m_loading = true;
    m_use->setChecked(GetSetting(IntSetting::UseOnline) != 0);
    const int priority = GetSetting(IntSetting::FilterPriority);
    m_basic->setChecked(priority == kBasic);
    m_advanced->setChecked(priority == kAdvanced);
    m_program->setChecked(priority == kAdvancedWithProgram);
    m_sender->setChecked(GetSetting(IntSetting::FilterSender) != 0);
    m_subject->setChecked(GetSetting(IntSetting::FilterSubject) != 0);
    m_content->setChecked(GetSetting(IntSetting::FilterContent) != 0);
    m_mesg->setChecked(GetSetting(IntSetting::FilterMesg) != 0);
    m_fileName->setChecked(GetSetting(IntSetting::FilterFileName) != 0);
    m_loading = false;
    UpdateEnabling();
}

void OnlineFilterPage::showEvent(QShowEvent* event)
{
    Reload();
    QWidget::showEvent(event);
}

void OnlineFilterPage::UpdateEnabling()
{
    const bool on = m_use->isChecked();
    const bool basic = m_basic->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{m_basic, m_advanced, m_program, m_sender, m_subject, m_fileName})
        w->setEnabled(on);
    m_content->setEnabled(on && !basic);
    m_mesg->setEnabled(on && !basic);
}

}  // namespace orvanta::ui
