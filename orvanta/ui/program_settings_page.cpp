#include "orvanta/ui/program_settings_page.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "orvanta/core/autostart.h"
#include "orvanta/core/log.h"
#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {
namespace {

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 9999;
constexpr int kDefaultImapPort = 144;
constexpr int kDefaultSmtpPort = 26;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

ProgramSettingsPage::ProgramSettingsPage(Servers servers, std::string program, QWidget* parent)
    : QWidget(parent), m_servers(std::move(servers)), m_program(std::move(program))
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(U(text::kProgramSettingsHeading)));

    auto* general = new QGroupBox(U(text::kGeneralGroup));
    auto* generalRows = new QVBoxLayout(general);
    m_autoStart = new QCheckBox(U(text::kAutoStart));
    generalRows->addWidget(m_autoStart);
    layout->addWidget(general);

    auto* advanced = new QGroupBox(U(text::kAdvancedGroup));
    auto* advancedRows = new QVBoxLayout(advanced);
    auto* ports = new QFormLayout;
    auto field = [ports](const char* label) {
        auto* edit = new QLineEdit;
        edit->setMaxLength(10);
        edit->setAccessibleName(U(label).trimmed());
        edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
        ports->addRow(U(label), edit);
        return edit;
    };
    m_pop3 = field(text::kPop3Port);
    m_imap = field(text::kImapPort);
    m_smtp = field(text::kSmtpPort);
    advancedRows->addLayout(ports);
    m_localOnly = new QCheckBox(U(text::kLocalOnly));
    advancedRows->addWidget(m_localOnly);
    auto* buttons = new QHBoxLayout;
    m_run = new QPushButton(U(text::kRun));
    m_stop = new QPushButton(U(text::kStop));
    m_defaults = new QPushButton(U(text::kDefaults));
    buttons->addWidget(m_run);
    buttons->addWidget(m_stop);
    buttons->addStretch();
    buttons->addWidget(m_defaults);
    advancedRows->addLayout(buttons);
    layout->addWidget(advanced);
    layout->addStretch();

    connect(m_autoStart, &QCheckBox::toggled, this, [this](bool on) {
        if (m_loading)
            return;
        SetSetting(IntSetting::AutoStart, on ? 1 : 0);
        if (!SetAutostartEntry(on, m_program))
            LogUtf8("The desktop's autostart entry could not be " + std::string(on ? "written: " : "removed: ") +
                    AutostartEntryPath());
    });
    for (auto [edit, port] : {std::pair{m_pop3, IntSetting::Pop3Port}, std::pair{m_imap, IntSetting::ImapPort},
                              std::pair{m_smtp, IntSetting::SmtpPort}}) {
        QLineEdit* target = edit;
        const IntSetting setting = port;
        connect(edit, &QLineEdit::textEdited, this,
                [this, target, setting](const QString& text) { PortEdited(target, setting, text); });
    }
    connect(m_localOnly, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_loading)
            SetSetting(IntSetting::ImapLocal, on ? 1 : 0);
    });
    connect(m_run, &QPushButton::clicked, this, [this] {
        if (m_servers.start)
            m_servers.start();
        FollowServers();
    });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (m_servers.stop)
            m_servers.stop();
        FollowServers();
    });
    connect(m_defaults, &QPushButton::clicked, this, &ProgramSettingsPage::RestoreDefaults);
    Reload();
}

QLineEdit* ProgramSettingsPage::PortField(IntSetting port) const
{
    return port == IntSetting::Pop3Port ? m_pop3 : port == IntSetting::ImapPort ? m_imap : m_smtp;
}

void ProgramSettingsPage::Reload()
{
    m_loading = true;
    m_autoStart->setChecked(GetSetting(IntSetting::AutoStart) != 0);
    for (IntSetting port : {IntSetting::Pop3Port, IntSetting::ImapPort, IntSetting::SmtpPort})
        PortField(port)->setText(QString::number(GetSetting(port)));
    m_localOnly->setChecked(GetSetting(IntSetting::ImapLocal) != 0);
    m_loading = false;
    FollowServers();
}

void ProgramSettingsPage::FollowServers()
{
    const bool running = m_servers.imapRunning && m_servers.imapRunning();
    m_run->setEnabled(!running);
    m_stop->setEnabled(running);
}

void ProgramSettingsPage::PortEdited(QLineEdit* field, IntSetting port, const QString& text)
{
    bool whole = false;
    const long long value = text.trimmed().toLongLong(&whole);
    if (!whole) {
        QMessageBox::information(this, U(text::kCaption), U(text::kWholeNumber));
        return;
    }
    if (value < kLowestPort || value > kHighestPort) {
        QMessageBox::information(this, U(text::kCaption), U(text::kPortRange));
        field->setText(QString::number(GetSetting(port)));
        return;
    }
    SetSetting(port, static_cast<int>(value));
}

void ProgramSettingsPage::RestoreDefaults()
{
    // The POP3 port stays: the mail client's linked accounts name it.
    SetSetting(IntSetting::ImapLocal, 1);
    SetSetting(IntSetting::ImapPort, kDefaultImapPort);
    SetSetting(IntSetting::SmtpPort, kDefaultSmtpPort);
    Reload();
}

void ProgramSettingsPage::showEvent(QShowEvent* event)
{
    FollowServers();
    QWidget::showEvent(event);
}

}  // namespace orvanta::ui
