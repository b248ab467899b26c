#pragma once

#include <QWidget>

#include <functional>

class QComboBox;
class QPushButton;

namespace orvanta::ui {

// " 업데이트 ": which update site the updater uses ("Update_Server", an index into the site
// list read at start), how often the program looks for updates ("Update_Term": none, 3, 7 or
// 10 days) and "지금업데이트하기", which starts the updater.
class UpdatePage : public QWidget {
    Q_OBJECT

public:
    // `siteNames`: the update sites in list order.
    UpdatePage(const QStringList& siteNames, std::function<void()> updateNow, QWidget* parent = nullptr);

    QComboBox* SiteList() const { return m_sites; }
    QComboBox* PeriodList() const { return m_period; }
    QPushButton* UpdateNowButton() const { return m_now; }

private:
    QComboBox* m_sites;
    QComboBox* m_period;
    QPushButton* m_now;
};

}  // namespace orvanta::ui
