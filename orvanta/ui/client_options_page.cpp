#include "orvanta/ui/client_options_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "orvanta/core/settings.h"
#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {
namespace {

constexpr int kDeleteAtOnce = 1;  // "바로삭제"
constexpr int kLongestDays = 10;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// A group of the three answers of one feedback question; the button ids are the setting's values.
QGroupBox* AnswerGroup(const char* title, const char* addText, QButtonGroup* group)
{
    auto* box = new QGroupBox(U(title));
    auto* row = new QHBoxLayout(box);
    const char* labels[] = {text::kAskFirst, addText, text::kNotUsed};
    for (int value = 0; value < 3; ++value) {
        auto* button = new QRadioButton(U(labels[value]));
        group->addButton(button, value);
        row->addWidget(button);
    }
    row->addStretch();
    return box;
}

}  // namespace

ClientOptionsPage::ClientOptionsPage(Actions actions, QWidget* parent) : QWidget(parent), m_actions(std::move(actions))
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(U(text::kClientOptionsHeading)));

    auto* linking = new QGroupBox(U(text::kClientLinkGroup));
    auto* linkRow = new QHBoxLayout(linking);
    m_link = new QPushButton(U(text::kLinkButton));
    m_unlink = new QPushButton(U(text::kUnlinkButton));
    m_mailbox = new QPushButton(U(text::kArrangeMailbox));
    linkRow->addWidget(m_link);
    linkRow->addWidget(m_unlink);
    linkRow->addStretch();
    linkRow->addWidget(m_mailbox);
    layout->addWidget(linking);

    m_autoSpam = new QButtonGroup(this);
    m_autoPass = new QButtonGroup(this);
    layout->addWidget(AnswerGroup(text::kAutoSpamGroup, text::kAddAlways, m_autoSpam));
    layout->addWidget(AnswerGroup(text::kAutoPassGroup, text::kAddAlwaysPass, m_autoPass));

    auto* periodRow = new QHBoxLayout;
    auto* periodLabel = new QLabel(U(text::kDeletePeriod));
    m_period = new QComboBox;
    m_period->setAccessibleName(U(text::kDeletePeriod));
    periodLabel->setBuddy(m_period);
    periodRow->addWidget(periodLabel);
    periodRow->addWidget(m_period);
    periodRow->addStretch();
    layout->addLayout(periodRow);
    m_keepInfo = new QCheckBox(U(text::kKeepDeletedInfo));
    layout->addWidget(m_keepInfo);
    layout->addStretch();

    auto call = [](const std::function<void()>& f) {
        if (f)
            f();
    };
    connect(m_link, &QPushButton::clicked, this, [this, call] { call(m_actions.link); });
    connect(m_unlink, &QPushButton::clicked, this, [this, call] { call(m_actions.unlink); });
    connect(m_mailbox, &QPushButton::clicked, this, [this, call] { call(m_actions.manageMailbox); });
    connect(m_autoSpam, &QButtonGroup::idClicked, this, [](int value) { SetSetting(IntSetting::AutoSpam, value); });
    connect(m_autoPass, &QButtonGroup::idClicked, this, [](int value) { SetSetting(IntSetting::AutoPass, value); });
    connect(m_period, &QComboBox::activated, this, &ClientOptionsPage::PeriodChosen);
    connect(m_keepInfo, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_loading)
            SetSetting(IntSetting::DelLog, on ? 1 : 0);
    });
    Reload();
}

void ClientOptionsPage::Reload()
{
    m_loading = true;
    auto check = [](QButtonGroup* group, int value) {
        // All cleared first: a value outside 0 to 2 leaves none checked.
        group->setExclusive(false);
        for (QAbstractButton* b : group->buttons())
            b->setChecked(false);
        group->setExclusive(true);
        if (QAbstractButton* b = group->button(value))
            b->setChecked(true);
    };
    check(m_autoSpam, GetSetting(IntSetting::AutoSpam));
    check(m_autoPass, GetSetting(IntSetting::AutoPass));
    m_period->clear();
    m_period->addItem(U(text::kNeverDelete));
    m_period->addItem(U(text::kDeleteAtOnce));
    for (int days = 1; days <= kLongestDays; ++days)
        m_period->addItem(QString::number(days) + U(text::kDays));
    m_period->setCurrentIndex(GetSetting(IntSetting::DelTerm));
    m_keepInfo->setChecked(GetSetting(IntSetting::DelLog) != 0);
    m_loading = false;
}

void ClientOptionsPage::PeriodChosen(int index)
{
    if (index == kDeleteAtOnce)
        QMessageBox::information(this, U(text::kCaption), U(text::kDeleteAtOnceNotice));
    // The period counts from today.
    const QDate today = QDate::currentDate();
    SetSetting(IntSetting::DelTerm, index);
    SetSetting(IntSetting::DelYear, today.year());
    SetSetting(IntSetting::DelMonth, today.month());
    SetSetting(IntSetting::DelDay, today.day());
}

void ClientOptionsPage::showEvent(QShowEvent* event)
{
    Reload();
    QWidget::showEvent(event);
}

}  // namespace orvanta::ui
