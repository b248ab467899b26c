#include "orvanta/ui/environment_settings.h"

#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {

EnvironmentSettings::EnvironmentSettings(ClientOptionsPage::Actions actions, ProgramSettingsPage::Servers servers,
                                         std::string program, QWidget* parent)
    : QTabWidget(parent)
{
    m_client = new ClientOptionsPage(std::move(actions));
    m_program = new ProgramSettingsPage(std::move(servers), std::move(program));
    addTab(m_client, QString::fromUtf8(text::kTabClientOptions));
    addTab(m_program, QString::fromUtf8(text::kTabProgramSettings));
    setAccessibleName(QString::fromUtf8(text::kToolSettings).trimmed());
}

}  // namespace orvanta::ui
