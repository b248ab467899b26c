#pragma once

#include <QDialog>

#include <array>
#include <memory>

#include "components/toolwick/debug.h"
#include "orvanta/core/front_end.h"

class QPlainTextEdit;
class QTabWidget;

namespace orvanta::ui {

// The debug window: one read-only log per server (IMAP, POP3, SMTP). Each tab has a
// listener that the server reports to from its own threads; the lines reach the tab on the
// window's thread. A tab keeps its last kMaxLines lines, so a long debug session cannot eat
// the machine's memory.
class DebugWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 5000;

    explicit DebugWindow(QWidget* parent = nullptr);
    ~DebugWindow() override;

    CDebug* Listener(DebugTab tab);
    // Appends `line` and a line break to the tab's log (on the window's thread).
    void Append(DebugTab tab, const QString& line);
    QString Text(DebugTab tab) const;

private:
    class Relay;
    QTabWidget* m_tabs = nullptr;
    std::array<QPlainTextEdit*, 3> m_logs{};
    std::array<std::unique_ptr<Relay>, 3> m_relays;
};

}  // namespace orvanta::ui
