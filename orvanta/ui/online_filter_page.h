#pragma once

#include <QWidget>

class QCheckBox;
class QRadioButton;

namespace orvanta::ui {

// "온라인필터": whether the online block list is used, at which level ("FILTER_PRIORITY":
// 1 basic, 3 advanced, 2 advanced with the program filter) and on which parts of a message.
// Off, the level and the parts cannot be changed; at the basic level "본문" and
// "메시지전체" cannot be changed, but their settings keep their values for the other levels.
class OnlineFilterPage : public QWidget {
    Q_OBJECT

public:
    explicit OnlineFilterPage(QWidget* parent = nullptr);

    // Reads every value from the settings again (each time the page is shown).
    void Reload();

    QCheckBox* UseBox() const { return m_use; }
    QRadioButton* LevelButton(int priority) const;
    QCheckBox* SenderBox() const { return m_sender; }
    QCheckBox* SubjectBox() const { return m_subject; }
    QCheckBox* ContentBox() const { return m_content; }
    QCheckBox* MesgBox() const { return m_mesg; }
    QCheckBox* FileNameBox() const { return m_fileName; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void UpdateEnabling();

    bool m_loading = false;
    QCheckBox* m_use;
    QRadioButton* m_basic;
    QRadioButton* m_advanced;
    QRadioButton* m_program;
    QCheckBox* m_sender;
    QCheckBox* m_subject;
    QCheckBox* m_content;
    QCheckBox* m_mesg;
    QCheckBox* m_fileName;
};

}  // namespace orvanta::ui
