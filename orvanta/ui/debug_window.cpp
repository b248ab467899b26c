#include "orvanta/ui/debug_window.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "orvanta/ui/cp949.h"
#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {

// Called on the servers' threads: the text is converted there and handed over to the
// window's thread; a window already gone drops it.
class DebugWindow::Relay : public CDebug {
public:
    Relay(DebugWindow* window, DebugTab tab) : m_window(window), m_tab(tab) {}
    void DebugMesg(char* mesg) override
    {
        if (!mesg)
            return;
        QString line = FromCp949(mesg);
        QPointer<DebugWindow> window = m_window;
        const DebugTab tab = m_tab;
        QMetaObject::invokeMethod(
            m_window,
            [window, tab, line] {
                if (window)
                    window->Append(tab, line);
            },
            Qt::QueuedConnection);
    }

private:
    DebugWindow* m_window;
    DebugTab m_tab;
};

DebugWindow::DebugWindow(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8(text::kDebugTitle));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    m_tabs->setAccessibleName(QString::fromUtf8(text::kDebugTitle));
    const char* names[] = {"IMAP", "POP3", "SMTP"};
    for (int i = 0; i < 3; ++i) {
        auto* log = new QPlainTextEdit(m_tabs);
        log->setReadOnly(true);
        log->setMaximumBlockCount(kMaxLines);
        log->setLineWrapMode(QPlainTextEdit::NoWrap);
        log->setAccessibleName(QString::fromLatin1(names[i]));
        m_tabs->addTab(log, QString::fromLatin1(names[i]));
        m_logs[i] = log;
        m_relays[i] = std::make_unique<Relay>(this, static_cast<DebugTab>(i));
    }
    layout->addWidget(m_tabs);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* close = buttons->addButton(QString::fromUtf8(text::kClose), QDialogButtonBox::RejectRole);
    close->setAccessibleName(QString::fromUtf8(text::kClose));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    layout->addWidget(buttons);
    resize(560, 380);
}

DebugWindow::~DebugWindow() = default;

CDebug* DebugWindow::Listener(DebugTab tab) { return m_relays[static_cast<size_t>(tab)].get(); }

void DebugWindow::Append(DebugTab tab, const QString& line)
{
    // The servers' lines end in CR LF or LF at times; the log adds its own line break.
    QString text = line;
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    m_logs[static_cast<size_t>(tab)]->appendPlainText(text);
}

QString DebugWindow::Text(DebugTab tab) const { return m_logs[static_cast<size_t>(tab)]->toPlainText(); }

}  // namespace orvanta::ui
