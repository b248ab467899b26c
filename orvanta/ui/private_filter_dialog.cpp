#include "orvanta/ui/private_filter_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "orvanta/ui/cp949.h"
#include "orvanta/ui/ui_texts.h"
#include "sievelet/spam_filter_record.h"

namespace orvanta::ui {
namespace {

constexpr int kKinds = 7;
// Lengths in CP949 bytes: a word of 1 to 79, a folder under 200, a description under 25.
constexpr size_t kMaxWord = 79;
constexpr size_t kFolderLimit = 200;
constexpr size_t kDescriptionLimit = 25;

const char* WordLabelText(int kind)
{
    if (kind == SPAM_PROPERTY_SENDER || kind == SPAM_PROPERTY_RECEIVER)
        return text::kLabelAddress;
    return kind == SPAM_PROPERTY_FILENAME ? text::kLabelFileName : text::kLabelWord;
}

}  // namespace

PrivateFilterDialog::PrivateFilterDialog(const Values& values, FolderChooser chooser, QWidget* parent)
    : QDialog(parent), m_chooser(std::move(chooser))
{
    setWindowTitle(QString::fromUtf8(text::kPrivateDialogTitle));
    auto* intro = new QLabel(QString::fromUtf8(text::kPrivateDialogIntro));
    m_kind = new QComboBox;
    for (int kind = 0; kind < kKinds; ++kind)
        m_kind->addItem(FromCp949(SPAM_FILTER::GetPropertyName(kind)));
    m_wordLabel = new QLabel;
    m_word = new QLineEdit(values.word);
    m_description = new QLineEdit(values.description);
    m_folder = new QLineEdit(values.folder);
    m_browse = new QPushButton(QString::fromUtf8(text::kBrowse));
    m_deleteAtOnce = new QCheckBox(QString::fromUtf8(text::kDeleteAtOnce));
    m_deleteAtOnce->setChecked(values.deleteAtOnce);
    m_ok = new QPushButton(QString::fromUtf8(text::kOk));
    auto* cancel = new QPushButton(QString::fromUtf8(text::kCancel));
    m_ok->setDefault(true);

    auto* kindLabel = new QLabel(QString::fromUtf8(text::kLabelKind));
    auto* descriptionLabel = new QLabel(QString::fromUtf8(text::kLabelDescription));
    auto* folderLabel = new QLabel(QString::fromUtf8(text::kLabelFolder));
    kindLabel->setBuddy(m_kind);
    m_wordLabel->setBuddy(m_word);
    descriptionLabel->setBuddy(m_description);
    folderLabel->setBuddy(m_folder);
    m_kind->setAccessibleName(kindLabel->text());
    m_description->setAccessibleName(descriptionLabel->text());
    m_folder->setAccessibleName(folderLabel->text());

    auto* grid = new QGridLayout;
    grid->addWidget(kindLabel, 0, 0);
    grid->addWidget(m_kind, 0, 1, 1, 2);
    grid->addWidget(m_wordLabel, 1, 0);
    grid->addWidget(m_word, 1, 1, 1, 2);
    grid->addWidget(descriptionLabel, 2, 0);
    grid->addWidget(m_description, 2, 1, 1, 2);
    grid->addWidget(folderLabel, 3, 0);
    grid->addWidget(m_folder, 3, 1);
    grid->addWidget(m_browse, 3, 2);
    grid->addWidget(m_deleteAtOnce, 4, 1, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(m_kind, &QComboBox::currentIndexChanged, this, &PrivateFilterDialog::KindChanged);
    connect(m_deleteAtOnce, &QCheckBox::toggled, this, &PrivateFilterDialog::UpdateEnabling);
    connect(m_browse, &QPushButton::clicked, this, [this] {
        if (!m_chooser)
            return;
        if (std::optional<QString> folder = m_chooser(this))
            m_folder->setText(*folder);
    });
    connect(m_ok, &QPushButton::clicked, this, &PrivateFilterDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    m_kind->setCurrentIndex(values.kind >= 0 && values.kind < kKinds ? values.kind : SPAM_PROPERTY_SUBJECT);
    KindChanged(m_kind->currentIndex());
    UpdateEnabling();
}

PrivateFilterDialog::Values PrivateFilterDialog::Result() const
{
    return {m_kind->currentIndex(), m_word->text(), m_description->text(), m_folder->text(),
            m_deleteAtOnce->isChecked()};
}

QString PrivateFilterDialog::Check(const Values& values)
{
    const size_t word = Cp949Length(values.word);
    if (word < 1 || word > kMaxWord)
        return QString::fromUtf8(text::kWordTooLong);
    if (Cp949Length(values.folder) >= kFolderLimit)
        return QString::fromUtf8(text::kFolderTooLong);
    if (Cp949Length(values.description) >= kDescriptionLimit)
        return QString::fromUtf8(text::kDescriptionTooLong);
    return {};
}

void PrivateFilterDialog::accept()
{
    const QString problem = Check(Result());
    if (!problem.isEmpty()) {
        QMessageBox::information(this, QString::fromUtf8(text::kCaption), problem);
        return;
    }
    QDialog::accept();
}

void PrivateFilterDialog::KindChanged(int kind)
{
    m_wordLabel->setText(QString::fromUtf8(WordLabelText(kind)));
    m_word->setAccessibleName(m_wordLabel->text());
}

void PrivateFilterDialog::UpdateEnabling()
{
    const bool store = !m_deleteAtOnce->isChecked();
    m_folder->setEnabled(store);
    m_browse->setEnabled(store);
}

}  // namespace orvanta::ui
