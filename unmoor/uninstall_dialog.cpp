#include "unmoor/uninstall_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSvgRenderer>
#include <QVBoxLayout>

#include "unmoor/texts.h"

// The icon is built into this static library; naming its initialiser keeps the linker from
// leaving it out.
static void InitResources() { Q_INIT_RESOURCE(unmoor); }

namespace unmoor {

QIcon ProgramIcon()
{
    InitResources();
    QSvgRenderer renderer(QStringLiteral(":/unmoor/unmoor.svg"));
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    // The window manager picks the size it shows; a few sharp ones spare it the scaling.
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

UninstallDialog::UninstallDialog(Uninstaller& uninstaller, QWidget* parent)
    : QDialog(parent), m_uninstaller(uninstaller), m_thanks(new QLabel(QString::fromUtf8(texts::kThanks), this)),
      m_question(new QLabel(QString::fromUtf8(texts::kQuestion), this)),
      m_ok(new QPushButton(QString::fromUtf8(texts::kOk), this)),
      m_cancel(new QPushButton(QString::fromUtf8(texts::kCancel), this))
{
    setWindowTitle(QString::fromUtf8(texts::kTitle));
    setWindowIcon(ProgramIcon());
    setModal(true);
    m_ok->setDefault(true);

    auto* icon = new QLabel(this);
    icon->setPixmap(windowIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(m_thanks);
    texts->addSpacing(6);
    texts->addWidget(m_question);
    texts->addStretch();
    auto* body = new QHBoxLayout;
    body->addWidget(icon);
    body->addSpacing(12);
    body->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addSpacing(12);
    layout->addLayout(buttons);
    setMinimumWidth(380);

    connect(m_ok, &QPushButton::clicked, this, [this] {
        m_outcome = m_uninstaller.Accept();
        accept();
    });
    // Cancel, like Esc and the close box, only closes.
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void ShowExitFirst(QWidget* parent)
{
    QMessageBox box(QMessageBox::Information, QString::fromUtf8(texts::kMessageTitle),
                    QString::fromUtf8(texts::kExitFirst), QMessageBox::Ok, parent);
    box.setWindowIcon(ProgramIcon());
    box.exec();
}

}  // namespace unmoor
