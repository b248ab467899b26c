#pragma once

#include <QString>

#include <string>
#include <string_view>

// The system keeps its texts in CP949; the windows show Unicode. Lengths that the dialogs check
// are counted in CP949 bytes, so a Korean character counts two.
namespace orvanta::ui {

QString FromCp949(std::string_view cp949);
std::string ToCp949(const QString& text);
size_t Cp949Length(const QString& text);

}  // namespace orvanta::ui
