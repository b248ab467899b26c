#pragma once

#include <QTabWidget>

#include "orvanta/ui/private_filter_dialog.h"

namespace orvanta::pipeline {
struct FilterSets;
}

namespace orvanta::ui {

class OnlineFilterPage;
class PassFilterPage;
class PrivateFilterPage;
class WarningTextPage;

// The filter settings container: its four tabs, the online filter first.
class FilterSettings : public QTabWidget {
    Q_OBJECT

public:
    FilterSettings(pipeline::FilterSets& sets, PrivateFilterDialog::FolderChooser chooser, QWidget* parent = nullptr);

    OnlineFilterPage* Online() const { return m_online; }
    PrivateFilterPage* Private() const { return m_private; }
    PassFilterPage* Pass() const { return m_pass; }
    WarningTextPage* Warning() const { return m_warning; }

private:
    OnlineFilterPage* m_online;
    PrivateFilterPage* m_private;
    PassFilterPage* m_pass;
    WarningTextPage* m_warning;
};

}  // namespace orvanta::ui
