#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace orvanta::ui {

// "통과필터 추가/편집": one pass entry, an address or a domain and its description.
class PassFilterDialog : public QDialog {
    Q_OBJECT

public:
    PassFilterDialog(const QString& address, const QString& description, QWidget* parent = nullptr);

    QString Address() const;
    QString Description() const;
    // The box the values earn on OK; empty when they are fine.
    static QString Check(const QString& address, const QString& description);

    QLineEdit* AddressField() const { return m_address; }
    QLineEdit* DescriptionField() const { return m_description; }
    QPushButton* OkButton() const { return m_ok; }

    void accept() override;

private:
    QLineEdit* m_address;
    QLineEdit* m_description;
    QPushButton* m_ok;
};

}  // namespace orvanta::ui
