#include "orvanta/ui/small_windows.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "components/almanac/update_address.h"
#include "orvanta/core/settings.h"
#include "orvanta/ui/icons.h"
#include "orvanta/ui/ui_texts.h"

namespace orvanta::ui {

QString HomePageUrl() { return QString::fromStdString(almanac::WebURL() + "/orvanta/"); }
QString ManualUrl() { return QString::fromStdString(almanac::WebURL() + "/orvanta/html/help/manual.html"); }
void OpenPage(const QString& url) { QDesktopServices::openUrl(QUrl(url)); }

NoticeWindow::NoticeWindow(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8(text::kNoticeTitle));
    m_text = new QPlainTextEdit;
    m_text->setReadOnly(true);
    m_text->setAccessibleName(windowTitle());
    auto* close = new QPushButton(QString::fromUtf8(text::kClose));
    auto* home = new QPushButton(QString::fromUtf8(text::kToHomePage));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(home);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text, 1);
    layout->addLayout(buttons);
    resize(460, 320);
    connect(close, &QPushButton::clicked, this, &QDialog::hide);
    connect(home, &QPushButton::clicked, this, [] { OpenPage(HomePageUrl()); });
}

void NoticeWindow::ShowText(const QString& text)
{
    m_text->setPlainText(text);
    show();
    raise();
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8(text::kTrayAbout));
    auto* picture = new QLabel;
    picture->setPixmap(SplashPicture().scaledToWidth(300, Qt::SmoothTransformation));
    auto* label = new QLabel(QString::fromUtf8(text::kVersionLabel));
    auto* version = new QLabel(QString::fromUtf8(text::kVersionLine) +
                               QString::fromStdString(GetSetting(StringSetting::ProgramVersion)));
    auto* close = new QPushButton(QString::fromUtf8(text::kClose));
    close->setDefault(true);
    auto* line = new QHBoxLayout;
    line->addWidget(label);
    line->addWidget(version, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picture);
    layout->addLayout(line);
    layout->addWidget(close, 0, Qt::AlignRight);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

QLabel* ShowSplash()
{
    auto* splash = new QLabel(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint);
    splash->setAttribute(Qt::WA_DeleteOnClose);
    splash->setPixmap(SplashPicture());
    splash->show();
    QTimer::singleShot(3000, splash, &QWidget::close);
    QApplication::processEvents();
    return splash;
}

}  // namespace orvanta::ui
