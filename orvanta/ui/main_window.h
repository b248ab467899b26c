#pragma once

#include <QMainWindow>

#include "orvanta/ui/private_filter_dialog.h"

class QAction;
class QStackedWidget;

namespace orvanta {
class Application;
}

namespace orvanta::ui {

class EnvironmentSettings;
class FilterSettings;
class UpdatePage;

// "Orvanta Zidevoz": the toolbar and the page area. The page buttons stay pressed with the
// page they show; "닫기" and the window's close box hide the window through the core, which
// saves the settings first.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    enum class Page { kFilters, kSettings, kUpdate };

    MainWindow(Application& app, PrivateFilterDialog::FolderChooser chooser, bool debugMode);

    void ShowPage(Page page);
    Page Shown() const { return m_shown; }
    FilterSettings* Filters() const { return m_filters; }
    EnvironmentSettings* Settings() const { return m_settings; }
    UpdatePage* Update() const { return m_update; }
    QAction* PageAction(Page page) const;
    QAction* DebugAction() const { return m_debug; }

signals:
    void DebugWindowAsked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Application& m_app;
    Page m_shown = Page::kFilters;
    QStackedWidget* m_pages;
    FilterSettings* m_filters;
    EnvironmentSettings* m_settings;
    UpdatePage* m_update;
    QAction* m_filtersAction;
    QAction* m_settingsAction;
    QAction* m_updateAction;
    QAction* m_debug = nullptr;
};

}  // namespace orvanta::ui
