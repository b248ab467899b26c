#pragma once

#include <QTabWidget>

#include "orvanta/ui/client_options_page.h"
#include "orvanta/ui/program_settings_page.h"

namespace orvanta::ui {

// " 환경설정 ": the client options page first, then the program settings page.
class EnvironmentSettings : public QTabWidget {
    Q_OBJECT

public:
    EnvironmentSettings(ClientOptionsPage::Actions actions, ProgramSettingsPage::Servers servers, std::string program,
                        QWidget* parent = nullptr);

    ClientOptionsPage* ClientOptions() const { return m_client; }
    ProgramSettingsPage* ProgramSettings() const { return m_program; }

private:
    ClientOptionsPage* m_client;
    ProgramSettingsPage* m_program;
};

}  // namespace orvanta::ui
