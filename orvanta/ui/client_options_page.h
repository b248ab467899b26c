#pragma once

#include <QWidget>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QPushButton;

namespace orvanta::ui {

// "메일프로그램연동옵션": linking the mail client's accounts, the mailbox dialog, what the
// spam-box feedback does ("Auto_Spam", "Auto_Pass": 0 ask, 1 add, 2 nothing), how long the
// spam box keeps mail ("Del_Term") and "DEL_LOG". Every change is stored at once; the page
// reads the settings again each time it is shown.
class ClientOptionsPage : public QWidget {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> link;           // "Zidevoz 연동 하기"
        std::function<void()> unlink;         // "Zidevoz 연동 중지"
        std::function<void()> manageMailbox;  // "Orvanta 편지함 구성"
    };

    explicit ClientOptionsPage(Actions actions, QWidget* parent = nullptr);

    void Reload();

    QPushButton* LinkButton() const { return m_link; }
    QPushButton* UnlinkButton() const { return m_unlink; }
    QPushButton* MailboxButton() const { return m_mailbox; }
    QButtonGroup* AutoSpam() const { return m_autoSpam; }
    QButtonGroup* AutoPass() const { return m_autoPass; }
    QComboBox* DeletePeriod() const { return m_period; }
    QCheckBox* KeepInfoBox() const { return m_keepInfo; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void PeriodChosen(int index);

    Actions m_actions;
    bool m_loading = false;
    QPushButton* m_link;
    QPushButton* m_unlink;
    QPushButton* m_mailbox;
    QButtonGroup* m_autoSpam;
    QButtonGroup* m_autoPass;
    QComboBox* m_period;
    QCheckBox* m_keepInfo;
};

}  // namespace orvanta::ui
