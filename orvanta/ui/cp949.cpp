#include "orvanta/ui/cp949.h"

#include "platform/codepage.h"

namespace orvanta::ui {

QString FromCp949(std::string_view cp949) { return QString::fromStdString(platform::Cp949ToUtf8(cp949)); }

std::string ToCp949(const QString& text) { return platform::Utf8ToCp949(text.toStdString()); }

size_t Cp949Length(const QString& text) { return ToCp949(text).size(); }

}  // namespace orvanta::ui
