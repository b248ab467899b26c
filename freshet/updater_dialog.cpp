#include "freshet/updater_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>

#include "freshet/texts.h"
#include "freshet/updater.h"

namespace freshet {

namespace {

QString Text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

}  // namespace

UpdaterDialog::UpdaterDialog(QWidget* parent)
    : QDialog(parent), m_intro(new QLabel(QString::fromUtf8(texts::kIntro), this)), m_status(new QLineEdit(this)),
      m_overall(new QProgressBar(this)), m_file(new QProgressBar(this)),
      m_button(new QPushButton(QString::fromUtf8(texts::kCancel), this))
{
    // One icon serves as the large and the small window icon.
    setWindowIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    setModal(true);
    m_status->setReadOnly(true);
    for (QProgressBar* bar : {m_overall, m_file}) {
        bar->setRange(0, 0);
        bar->setValue(0);
        bar->setVisible(false);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_intro);
    layout->addWidget(m_status);
    layout->addWidget(m_overall);
    layout->addWidget(m_file);
    layout->addStretch();
    layout->addLayout(buttons);
    setMinimumWidth(440);
    connect(m_button, &QPushButton::clicked, this, [this] {
        if (Press())
            done(QDialog::Accepted);
    });
}

void UpdaterDialog::Attach(Updater* updater)
{
    m_updater = updater;
    setWindowTitle(Text(updater->Open()));
}

template <class F>
void UpdaterDialog::Later(F f)
{
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void UpdaterDialog::SetStatus(const std::string& text)
{
    Later([this, text = Text(text)] { m_status->setText(text); });
}

void UpdaterDialog::ShowBars(bool shown)
{
    Later([this, shown] {
        m_overall->setVisible(shown);
        m_file->setVisible(shown);
    });
}

void UpdaterDialog::SetBarRange(Bar which, int maximum)
{
    Later([this, which, maximum] {
        ProgressBar(which)->setRange(0, maximum);
        ProgressBar(which)->setValue(0);
    });
}

void UpdaterDialog::SetBarPosition(Bar which, int position)
{
    Later([this, which, position] { ProgressBar(which)->setValue(position); });
}

void UpdaterDialog::ShowMessage(const std::string& text)
{
    auto show = [this, text = Text(text)] {
        QMessageBox box(QMessageBox::Information, QString::fromUtf8(texts::kMessageTitle), text, QMessageBox::Ok, this);
        box.exec();
    };
    // From the worker: queued behind the status and bar changes it made before, and the worker
    // waits for the OK. On the window's own thread (the work could not start) it is shown at
    // once, since a blocking call to itself would never return.
    if (QThread::currentThread() == thread())
        show();
    else
        QMetaObject::invokeMethod(this, show, Qt::BlockingQueuedConnection);
}

void UpdaterDialog::WorkOver()
{
    Later([this] { m_button->setText(QString::fromUtf8(texts::kOk)); });
}

bool UpdaterDialog::AskCancel()
{
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(texts::kQuestionTitle), QString::fromUtf8(texts::kQuestion),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    return box.exec() == QMessageBox::Ok;
}

bool UpdaterDialog::Press()
{
    m_closing = !m_updater || m_updater->PressButton();
    return m_closing;
}

void UpdaterDialog::closeEvent(QCloseEvent* event)
{
    if (m_closing || Press()) {
        event->accept();
        done(QDialog::Accepted);
    } else {
        event->ignore();
    }
}

void UpdaterDialog::reject()
{
    if (Press())
        done(QDialog::Accepted);
}

}  // namespace freshet
