#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QPlainTextEdit;
class QPushButton;

namespace orvanta::ui {

// "경고문": whether warning mails go out ("USE_WARN"), which of the three texts
// ("Select_Warn"), and editing that text: "경고문편집" opens it, "편집완료" keeps it. Off,
// nothing can be changed and an edit ends without keeping; hidden while editing, the last
// typing is undone.
class WarningTextPage : public QWidget {
    Q_OBJECT

public:
    explicit WarningTextPage(QWidget* parent = nullptr);

    bool Editing() const { return m_editing; }

    QCheckBox* UseBox() const { return m_use; }
    QComboBox* Choice() const { return m_choice; }
    QPlainTextEdit* Text() const { return m_text; }
    QPushButton* EditButton() const { return m_edit; }
    QPushButton* DoneButton() const { return m_done; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void ShowChosen();
    void StartEditing();
    void FinishEditing(bool keep);
    void UpdateEnabling();

    bool m_editing = false;
    QCheckBox* m_use;
    QComboBox* m_choice;
    QPlainTextEdit* m_text;
    QPushButton* m_edit;
    QPushButton* m_done;
};

}  // namespace orvanta::ui
