#pragma once

#include <QWidget>

#include <functional>
#include <string>

#include "orvanta/core/settings.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace orvanta::ui {

// "Orvanta설정": the start at log-in ("Auto_Start", and the desktop's autostart entry), the
// three ports, "IMAP_LOCAL", and the buttons that start and stop the servers and put the
// defaults back. A port is checked at every keystroke: 1 to 9999 is stored at once (and used
// at the next "실행"); another number is refused and the field shows the stored port again;
// anything else, an empty field too, is refused and the setting keeps its value.
class ProgramSettingsPage : public QWidget {
    Q_OBJECT

public:
    struct Servers {
        std::function<void()> start;  // reports its own failures
        std::function<void()> stop;
        std::function<bool()> imapRunning;
    };

    // `program`: the absolute path the autostart entry runs.
    ProgramSettingsPage(Servers servers, std::string program, QWidget* parent = nullptr);

    void Reload();
    // "실행" exactly while the IMAP server is stopped, "중지" while it runs.
    void FollowServers();

    QCheckBox* AutoStartBox() const { return m_autoStart; }
    QLineEdit* PortField(IntSetting port) const;
    QCheckBox* LocalOnlyBox() const { return m_localOnly; }
    QPushButton* RunButton() const { return m_run; }
    QPushButton* StopButton() const { return m_stop; }
    QPushButton* DefaultsButton() const { return m_defaults; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void PortEdited(QLineEdit* field, IntSetting port, const QString& text);
    void RestoreDefaults();

    Servers m_servers;
    std::string m_program;
    bool m_loading = false;
    QCheckBox* m_autoStart;
    QLineEdit* m_pop3;
    QLineEdit* m_imap;
    QLineEdit* m_smtp;
    QCheckBox* m_localOnly;
    QPushButton* m_run;
    QPushButton* m_stop;
    QPushButton* m_defaults;
};

}  // namespace orvanta::ui
