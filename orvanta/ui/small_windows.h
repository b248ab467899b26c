#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;

namespace orvanta::ui {

// The maker's pages, opened in the desktop's browser.
QString HomePageUrl();
QString ManualUrl();
void OpenPage(const QString& url);

// "Orvanta 공지입니다.": the notice of the day, with "닫기" and "홈페이지로".
class NoticeWindow : public QDialog {
    Q_OBJECT

public:
    explicit NoticeWindow(QWidget* parent = nullptr);
    void ShowText(const QString& text);
    QPlainTextEdit* Text() const { return m_text; }

private:
    QPlainTextEdit* m_text;
};

// The about box: the picture, "버전 :" and "Version : EXPRESS " with the installed version.
class AboutBox : public QDialog {
    Q_OBJECT

public:
    explicit AboutBox(QWidget* parent = nullptr);
};

// The splash picture, frameless, closing and deleting itself after three seconds. The
// caller deletes it if the program ends sooner.
QLabel* ShowSplash();

}  // namespace orvanta::ui
