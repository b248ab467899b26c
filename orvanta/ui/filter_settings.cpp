#include "orvanta/ui/filter_settings.h"

#include "orvanta/pipeline/filter_sets.h"
#include "orvanta/ui/online_filter_page.h"
#include "orvanta/ui/pass_filter_page.h"
#include "orvanta/ui/private_filter_page.h"
#include "orvanta/ui/ui_texts.h"
#include "orvanta/ui/warning_text_page.h"

namespace orvanta::ui {

FilterSettings::FilterSettings(pipeline::FilterSets& sets, PrivateFilterDialog::FolderChooser chooser, QWidget* parent)
    : QTabWidget(parent)
{
    m_online = new OnlineFilterPage;
    m_private = new PrivateFilterPage(*sets.priv, std::move(chooser));
    m_pass = new PassFilterPage(*sets.pass);
    m_warning = new WarningTextPage;
    addTab(m_online, QString::fromUtf8(text::kTabOnline));
    addTab(m_private, QString::fromUtf8(text::kTabPrivate));
    addTab(m_pass, QString::fromUtf8(text::kTabPass));
    addTab(m_warning, QString::fromUtf8(text::kTabWarning));
    setCurrentIndex(0);
}

}  // namespace orvanta::ui
