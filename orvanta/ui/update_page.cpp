#include "orvanta/ui/update_page.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "orvanta/core/settings.h"
#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

UpdatePage::UpdatePage(const QStringList& siteNames, std::function<void()> updateNow, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(U(text::kUpdateHeading)));
    auto* form = new QFormLayout;
    m_sites = new QComboBox;
    m_sites->addItems(siteNames);
    m_sites->setAccessibleName(U(text::kUpdateServer));
    m_sites->setCurrentIndex(GetSetting(IntSetting::UpdateServer));
    form->addRow(U(text::kUpdateServer), m_sites);
    m_period = new QComboBox;
    m_period->addItem(U(text::kNoAutoUpdate));
    for (const char* days : {"3", "7", "10"})
        m_period->addItem(QString::fromLatin1(days) + U(text::kDays));
    m_period->setAccessibleName(U(text::kUpdatePeriod));
    m_period->setCurrentIndex(GetSetting(IntSetting::UpdateTerm));
    form->addRow(U(text::kUpdatePeriod), m_period);
    layout->addLayout(form);
    auto* row = new QHBoxLayout;
    m_now = new QPushButton(U(text::kUpdateNow));
    row->addWidget(m_now);
    row->addStretch();
    layout->addLayout(row);
    layout->addStretch();

    connect(m_sites, &QComboBox::activated, this, [](int index) { SetSetting(IntSetting::UpdateServer, index); });
    connect(m_period, &QComboBox::activated, this, [](int index) { SetSetting(IntSetting::UpdateTerm, index); });
    connect(m_now, &QPushButton::clicked, this, [updateNow = std::move(updateNow)] {
        if (updateNow)
            updateNow();
    });
}

}  // namespace orvanta::ui
