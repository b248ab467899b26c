#pragma once

#include <QDialog>

#include <optional>

#include "orvanta/core/front_end.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace orvanta::ui {

// "Orvanta - 메일보내기": which outgoing server a mail client that needs authentication sends
// through. The servers of the mail client's accounts in table order, the first selected.
class SmtpChoiceDialog : public QDialog {
    Q_OBJECT

public:
    explicit SmtpChoiceDialog(const QStringList& servers, QWidget* parent = nullptr);

    // Modal; nothing for "취소" (or the close box).
    std::optional<SmtpServerChoice> Ask();

    QComboBox* ServerList() const { return m_servers; }
    QCheckBox* AlwaysBox() const { return m_always; }
    QPushButton* OkButton() const { return m_ok; }

private:
    QComboBox* m_servers;
    QCheckBox* m_always;
    QPushButton* m_ok;
};

}  // namespace orvanta::ui
