#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>

class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace orvanta::ui {

// "편지함": asks for a folder name of 1 to 20 bytes (CP949).
class NameDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr size_t kMaxName = 20;

    explicit NameDialog(QWidget* parent = nullptr);
    QString Name() const;
    QLineEdit* Field() const { return m_name; }
    void accept() override;

private:
    QLineEdit* m_name;
};

// "편지함관리": the folder tree of the mail store under "<Orvanta>", the inbox shown as
// "받은 편지함", with new, rename and delete. Folders the mail client relies on (the inbox, the
// spam box, sent mail, drafts) cannot be renamed or deleted; "INBOX" and "받은 편지함" cannot be
// given as names. The same dialog chooses a folder for the private filter dialog.
class MailboxDialog : public QDialog {
    Q_OBJECT

public:
    // Stands in for the name dialog and the question (tests): the name, or nothing for
    // Cancel; and the question's answer.
    using AskName = std::function<std::optional<QString>()>;
    using AskQuestion = std::function<bool(const QString& text)>;
    using ShowBox = std::function<void(const QString& text)>;

    MailboxDialog(std::string storeRoot, QWidget* parent = nullptr);

    // The folder confirmed with "확인" or a double click: its path in display form without the
    // leading "/"; nothing when the dialog was closed otherwise.
    std::optional<QString> Choose();
    // The same dialog for arranging the folders; what is chosen is not used.
    void Manage();

    // The tree again from the store.
    void Rebuild();
    // A tree item's path: "/" + name for it and each ancestor below the root, top down.
    static QString PathOf(const QTreeWidgetItem* item);
    // A display-form path as the store takes it: the inbox as "INBOX", no leading "/", encoded.
    static std::string StoreName(const QString& displayPath);

    void SetAskName(AskName ask) { m_askName = std::move(ask); }
    void SetAskQuestion(AskQuestion ask) { m_askQuestion = std::move(ask); }
    void SetShowBox(ShowBox show) { m_showBox = std::move(show); }

    QTreeWidget* Tree() const { return m_tree; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* NewButton() const { return m_new; }
    QPushButton* RenameButton() const { return m_rename; }
    QPushButton* DeleteButton() const { return m_delete; }

    void NewFolder();
    void RenameFolder();
    void DeleteFolder();
    void Confirm();

private:
    void AddChildren(QTreeWidgetItem* parent, const std::string& directory);
    std::optional<QString> Name();
    void Box(const char* text);

    std::string m_root;
    AskName m_askName;
    AskQuestion m_askQuestion;
    ShowBox m_showBox;
    std::optional<QString> m_chosen;
    QTreeWidget* m_tree;
    QPushButton* m_ok;
    QPushButton* m_new;
    QPushButton* m_rename;
    QPushButton* m_delete;
};

}  // namespace orvanta::ui
