#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

#include <optional>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace orvanta::ui {

// The question of the spam-box feedback: add the sender (or its domain) to the pass list or
// to the private block rules? It offers the whole address and the part after its first "@",
// closes by itself as "추가안함" after ten seconds without touching a setting, and with
// "앞으로 묻지 않음" checked turns the question off: "Auto_Pass"/"Auto_Spam" become 1 after
// "추가함" and 2 after "추가안함".
class FeedbackPrompt : public QDialog {
    Q_OBJECT

public:
    enum class Kind { kBlock, kPass };
    static constexpr int kTimeoutMs = 10000;

    FeedbackPrompt(Kind kind, const QString& address, int timeoutMs = kTimeoutMs, QWidget* parent = nullptr);

    // Shows the prompt in front and waits: the text to add, or nothing.
    std::optional<QString> Ask();

    QComboBox* Choice() const { return m_choice; }
    QCheckBox* DoNotAsk() const { return m_doNotAsk; }
    QPushButton* AddButton() const { return m_add; }
    QPushButton* SkipButton() const { return m_skip; }

private:
    void Add();
    void Skip();

    Kind m_kind;
    QComboBox* m_choice;
    QCheckBox* m_doNotAsk;
    QPushButton* m_add;
    QPushButton* m_skip;
    QTimer m_timer;
    std::optional<QString> m_answer;
};

}  // namespace orvanta::ui
