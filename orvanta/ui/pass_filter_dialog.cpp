#include "orvanta/ui/pass_filter_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "orvanta/ui/cp949.h"
#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {
namespace {

// CP949 bytes: an address of 1 to 40, a description of at most 51.
constexpr size_t kMaxAddress = 40;
constexpr size_t kMaxDescription = 51;

}  // namespace

PassFilterDialog::PassFilterDialog(const QString& address, const QString& description, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8(text::kPassDialogTitle));
    auto* intro = new QLabel(QString::fromUtf8(text::kPassDialogIntro));
    m_address = new QLineEdit(address);
    m_description = new QLineEdit(description);
    m_address->setAccessibleName(QString::fromUtf8(text::kLabelMailDomain));
    m_description->setAccessibleName(QString::fromUtf8(text::kLabelDescription));
    m_ok = new QPushButton(QString::fromUtf8(text::kOk));
    auto* cancel = new QPushButton(QString::fromUtf8(text::kCancel));
    m_ok->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(QString::fromUtf8(text::kLabelMailDomain), m_address);
    form->addRow(QString::fromUtf8(text::kLabelDescription), m_description);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(intro);
    layout->addLayout(buttons);
    connect(m_ok, &QPushButton::clicked, this, &PassFilterDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString PassFilterDialog::Address() const { return m_address->text(); }
QString PassFilterDialog::Description() const { return m_description->text(); }

QString PassFilterDialog::Check(const QString& address, const QString& description)
{
    const size_t length = Cp949Length(address);
    if (length < 1 || length > kMaxAddress)
        return QString::fromUtf8(text::kAddressTooLong);
    if (Cp949Length(description) > kMaxDescription)
        return QString::fromUtf8(text::kPassDescriptionTooLong);
    return {};
}

void PassFilterDialog::accept()
{
    const QString problem = Check(Address(), Description());
    if (!problem.isEmpty()) {
        QMessageBox::information(this, QString::fromUtf8(text::kCaption), problem);
        return;
    }
    QDialog::accept();
}

}  // namespace orvanta::ui
