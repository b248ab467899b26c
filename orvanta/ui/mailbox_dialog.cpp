#include "orvanta/ui/mailbox_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <filesystem>

#include "harborage/folder_store.h"
#include "orvanta/pipeline/folder_choice.h"
#include "orvanta/ui/cp949.h"
#include "orvanta/ui/ui_texts.h"
#include "platform/files.h"

namespace orvanta::ui {
namespace {

bool IsProtected(const QString& name)
{
    for (const char* fixed : {"INBOX", "받은 편지함", "스팸 편지함", "보낸 편지함", "임시 보관함"})
        if (name == QString::fromUtf8(fixed))
            return true;
    return false;
}

bool IsReserved(const QString& name)
{
    return name.compare("INBOX", Qt::CaseInsensitive) == 0 ||
           name.compare(QString::fromUtf8("받은 편지함"), Qt::CaseInsensitive) == 0;
}

}  // namespace

NameDialog::NameDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8(text::kNameDialogTitle));
    auto* label = new QLabel(QString::fromUtf8(text::kNameDialogText));
    m_name = new QLineEdit;
    m_name->setMaxLength(static_cast<int>(kMaxName));
    m_name->setAccessibleName(label->text());
    label->setBuddy(m_name);
    auto* ok = new QPushButton(QString::fromUtf8(text::kOk));
    auto* cancel = new QPushButton(QString::fromUtf8(text::kCancel));
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_name);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &NameDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString NameDialog::Name() const { return m_name->text(); }

void NameDialog::accept()
{
    const size_t length = Cp949Length(Name());
    if (length < 1 || length > kMaxName) {
        QMessageBox::information(this, QString::fromUtf8(text::kCaption), QString::fromUtf8(text::kBadFolderName));
        return;
    }
    QDialog::accept();
}

MailboxDialog::MailboxDialog(std::string storeRoot, QWidget* parent) : QDialog(parent), m_root(std::move(storeRoot))
{
    setWindowTitle(QString::fromUtf8(text::kMailboxTitle));
    m_tree = new QTreeWidget;
    m_tree->setHeaderHidden(true);
    m_tree->setAccessibleName(windowTitle());
    m_ok = new QPushButton(QString::fromUtf8(text::kOk));
    m_new = new QPushButton(QString::fromUtf8(text::kNewFolder));
    m_rename = new QPushButton(QString::fromUtf8(text::kRename));
    m_delete = new QPushButton(QString::fromUtf8(text::kDeleteFolder));
    auto* note = new QLabel(QString::fromUtf8(text::kMailboxNote));
    auto* side = new QVBoxLayout;
    for (QPushButton* b : {m_ok, m_new, m_rename, m_delete})
        side->addWidget(b);
    side->addStretch();
    side->addWidget(note);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_tree, 1);
    layout->addLayout(side);
    connect(m_ok, &QPushButton::clicked, this, &MailboxDialog::Confirm);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, &MailboxDialog::Confirm);
    connect(m_new, &QPushButton::clicked, this, &MailboxDialog::NewFolder);
    connect(m_rename, &QPushButton::clicked, this, &MailboxDialog::RenameFolder);
    connect(m_delete, &QPushButton::clicked, this, &MailboxDialog::DeleteFolder);
    Rebuild();
}

void MailboxDialog::AddChildren(QTreeWidgetItem* parent, const std::string& directory)
{
    for (const platform::DirEntry& entry : platform::ListDirectory(directory)) {
        if (!entry.isDirectory)
            continue;
        char decoded[256] = {};
        CIMAPFolder::DecodingFolder(entry.name.c_str(), decoded, sizeof decoded);
        QString name = FromCp949(decoded);
        if (name.compare("INBOX", Qt::CaseInsensitive) == 0)
            name = FromCp949(pipeline::KoreanInboxName());
        auto* item = new QTreeWidgetItem(parent, QStringList(name));
        AddChildren(item, (std::filesystem::path(directory) / entry.name).string());
        item->setExpanded(true);
    }
}

void MailboxDialog::Rebuild()
{
    m_tree->clear();
    auto* root = new QTreeWidgetItem(m_tree, QStringList(QString::fromUtf8(text::kMailboxRoot)));
    AddChildren(root, m_root);
    root->setExpanded(true);
    m_tree->setCurrentItem(root);
}

QString MailboxDialog::PathOf(const QTreeWidgetItem* item)
{
    QString path;
    for (; item && item->parent(); item = item->parent())
        path = "/" + item->text(0) + path;
    return path;
}

std::string MailboxDialog::StoreName(const QString& displayPath)
{
    std::string store = pipeline::MapInboxName(ToCp949(displayPath));
    if (!store.empty() && store[0] == '/')
        store.erase(0, 1);
    return CIMAPFolder::EncodeFolderName(store);
}

std::optional<QString> MailboxDialog::Choose()
{
    m_chosen.reset();
    Rebuild();
    exec();
    return m_chosen;
}

void MailboxDialog::Manage()
{
    Rebuild();
    exec();
}

std::optional<QString> MailboxDialog::Name()
{
    if (m_askName)
        return m_askName();
    NameDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Name();
}

void MailboxDialog::Box(const char* text)
{
    if (m_showBox)
        m_showBox(QString::fromUtf8(text));
    else
        QMessageBox::information(this, QString::fromUtf8(text::kCaption), QString::fromUtf8(text));
}

void MailboxDialog::Confirm()
{
    const QString path = PathOf(m_tree->currentItem());
    if (path.isEmpty())
        return;  // nothing or the root: the dialog stays
    m_chosen = path.mid(1);
    accept();
}

void MailboxDialog::NewFolder()
{
    QTreeWidgetItem* parent = m_tree->currentItem();
    if (!parent)
        return;
    std::optional<QString> name = Name();
    if (!name)
        return;
    if (IsReserved(*name))
        return Box(text::kReservedName);
    CIMAPFolder store(m_root.c_str());
    if (store.CreateFolder(StoreName(PathOf(parent) + "/" + *name).c_str()) != CIMAPFolder::FolderOk)
        return Box(text::kCreateFailed);
    new QTreeWidgetItem(parent, QStringList(*name));
    parent->setExpanded(true);
}

void MailboxDialog::RenameFolder()
{
    QTreeWidgetItem* item = m_tree->currentItem();
    if (!item || !item->parent())
        return;
    std::optional<QString> name = Name();
    if (!name)
        return;
    if (IsReserved(*name))
        return Box(text::kReservedName);
    if (IsProtected(item->text(0)))
        return Box(text::kCannotRename);
    const QString oldPath = PathOf(item);
    const QString newPath = oldPath.left(oldPath.lastIndexOf('/')) + "/" + *name;
    CIMAPFolder store(m_root.c_str());
    if (store.RenameFolder(StoreName(oldPath).c_str(), StoreName(newPath).c_str()) == CIMAPFolder::FolderOk)
        item->setText(0, *name);
}

void MailboxDialog::DeleteFolder()
{
    QTreeWidgetItem* item = m_tree->currentItem();
    if (!item || !item->parent())
        return;
    const QString question = QString::fromUtf8(text::kDeleteFolderQuestion);
    const bool ok = m_askQuestion ? m_askQuestion(question)
                                  : QMessageBox::question(this, QString::fromUtf8(text::kCaption), question,
                                                          QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    if (!ok)
        return;
    if (IsProtected(item->text(0)))
        return Box(text::kCannotDelete);
    CIMAPFolder(m_root.c_str()).DeleteFolder(StoreName(PathOf(item)).c_str());
    delete item;
}

}  // namespace orvanta::ui
