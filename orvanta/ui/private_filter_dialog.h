#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace orvanta::ui {

// "개인 차단필터 추가/편집": one private block rule. The folder is in display form here
// ("받은 편지함" for the inbox).
class PrivateFilterDialog : public QDialog {
    Q_OBJECT

public:
    struct Values {
        int kind = 2;
        QString word;
        QString description;
        QString folder;
        bool deleteAtOnce = false;
    };
    // Opens the mailbox chooser; the folder chosen, in display form.
    using FolderChooser = std::function<std::optional<QString>(QWidget* parent)>;

    PrivateFilterDialog(const Values& values, FolderChooser chooser, QWidget* parent = nullptr);

    Values Result() const;
    // The box the values earn on OK, checked in the dialog's order; empty when they are fine.
    static QString Check(const Values& values);

    QComboBox* KindBox() const { return m_kind; }
    QLabel* WordLabel() const { return m_wordLabel; }
    QLineEdit* WordField() const { return m_word; }
    QLineEdit* DescriptionField() const { return m_description; }
    QLineEdit* FolderField() const { return m_folder; }
    QPushButton* BrowseButton() const { return m_browse; }
    QCheckBox* DeleteAtOnceBox() const { return m_deleteAtOnce; }
    QPushButton* OkButton() const { return m_ok; }

    void accept() override;

private:
    void KindChanged(int kind);
    void UpdateEnabling();

    FolderChooser m_chooser;
    QComboBox* m_kind;
    QLabel* m_wordLabel;
    QLineEdit* m_word;
    QLineEdit* m_description;
    QLineEdit* m_folder;
    QPushButton* m_browse;
    QCheckBox* m_deleteAtOnce;
    QPushButton* m_ok;
};

}  // namespace orvanta::ui
