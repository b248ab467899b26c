#include "orvanta/ui/main_window.h"

#include <QAction>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <QCloseEvent>
#include <QKeySequence>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>

#include "orvanta/core/application.h"
#include "orvanta/core/servers.h"
#include "orvanta/update/update_sites.h"
#include "orvanta/ui/cp949.h"
#include "orvanta/ui/environment_settings.h"
#include "orvanta/ui/mailbox_dialog.h"
#include "orvanta/ui/update_page.h"
#include "orvanta/core/window_messages.h"
#include "orvanta/ui/filter_settings.h"
#include "orvanta/ui/icons.h"
#include "orvanta/ui/small_windows.h"
#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {

MainWindow::MainWindow(Application& app, PrivateFilterDialog::FolderChooser chooser, bool debugMode) : m_app(app)
{
    setWindowTitle(QString::fromUtf8(text::kMainTitle));
    setWindowIcon(ProgramIcon());
    auto* bar = new QToolBar;
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setIconSize(QSize(26, 20));
    addToolBar(bar);
    auto add = [bar](ToolImage image, const char* label) {
        QAction* action = bar->addAction(ToolIcon(image), QString::fromUtf8(label));
        if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action)))
            button->setMinimumSize(65, 40);
        return action;
    };
    m_filtersAction = add(ToolImage::kFilters, text::kToolFilters);
    m_settingsAction = add(ToolImage::kSettings, text::kToolSettings);
    m_updateAction = add(ToolImage::kUpdate, text::kToolUpdate);
    bar->addSeparator();
    QAction* help = add(ToolImage::kHelp, text::kToolHelp);
    QAction* home = add(ToolImage::kHome, text::kToolHome);
    bar->addSeparator();
    QAction* close = add(ToolImage::kClose, text::kToolClose);
    if (debugMode) {
        bar->addSeparator();
        m_debug = add(ToolImage::kDebug, text::kToolDebug);
        connect(m_debug, &QAction::triggered, this, &MainWindow::DebugWindowAsked);
    }
    // The pages by keyboard too: Ctrl+1 to Ctrl+3, and Tab reaches every toolbar button.
    int key = Qt::Key_1;
    for (QAction* page : {m_filtersAction, m_settingsAction, m_updateAction}) {
        page->setCheckable(true);
        page->setShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(key++)));
    }
    for (QAction* action : bar->actions())
        if (QWidget* button = bar->widgetForAction(action); button && !action->isSeparator())
            button->setFocusPolicy(Qt::TabFocus);

    m_pages = new QStackedWidget;
    m_filters = new FilterSettings(*app.Filters(), std::move(chooser));
    m_pages->addWidget(m_filters);
    const platform::HWND core = app.MainWindow();
    auto post = [core](unsigned command) {
        return [core, command] { platform::PostMessage(core, kMsgCommand, command, 0); };
    };
    const std::string store = app.Paths().storeDirectory;
    ClientOptionsPage::Actions actions{post(kCmdLinkAccounts), post(kCmdUnlinkAccounts),
                                       [this, store] { MailboxDialog(store, this).Manage(); }};
    ServerSet* servers = app.Servers();
    ProgramSettingsPage::Servers control{[servers] { servers->StartServers(); }, [servers] { servers->StopServers(); },
                                         [servers] { return servers->ImapRunning(); }};
    std::error_code ec;
    const std::string program = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    m_settings = new EnvironmentSettings(std::move(actions), std::move(control), program);
    m_pages->addWidget(m_settings);
    QStringList sites;
    for (const ledgerly::UpdateSite& site : update::UpdateSiteList())
        sites << FromCp949(site.name);
    m_update = new UpdatePage(sites, post(kCmdUpdate));
    m_pages->addWidget(m_update);
    setCentralWidget(m_pages);
    const int scale = std::max(96, logicalDpiX());
    resize(640 * scale / 96, 440 * scale / 96);

    connect(m_filtersAction, &QAction::triggered, this, [this] { ShowPage(Page::kFilters); });
    connect(m_settingsAction, &QAction::triggered, this, [this] { ShowPage(Page::kSettings); });
    connect(m_updateAction, &QAction::triggered, this, [this] { ShowPage(Page::kUpdate); });
    connect(help, &QAction::triggered, this, [] { OpenPage(ManualUrl()); });
    connect(home, &QAction::triggered, this, [] { OpenPage(HomePageUrl()); });
    connect(close, &QAction::triggered, this,
            [this] { platform::PostMessage(m_app.MainWindow(), platform::WM_CLOSE, 0, 0); });
    ShowPage(Page::kFilters);
}

QAction* MainWindow::PageAction(Page page) const
{
    return page == Page::kFilters ? m_filtersAction : page == Page::kSettings ? m_settingsAction : m_updateAction;
}

void MainWindow::ShowPage(Page page)
{
    m_shown = page;
    m_pages->setCurrentIndex(static_cast<int>(page));
    // A page that was asked for takes the keyboard, so its controls are a Tab away.
    if (isVisible())
        m_pages->currentWidget()->setFocus(Qt::OtherFocusReason);
    for (Page p : {Page::kFilters, Page::kSettings, Page::kUpdate})
        PageAction(p)->setChecked(p == page);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The program goes on: the core saves the settings and has the window hidden.
    event->ignore();
    platform::PostMessage(m_app.MainWindow(), platform::WM_CLOSE, 0, 0);
}

}  // namespace orvanta::ui
