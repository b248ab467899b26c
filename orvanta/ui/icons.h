#pragma once

#include <QIcon>
#include <QPixmap>

// The program's pictures, painted here: the tray icon in its two states, the toolbar's
// images and the splash picture.
namespace orvanta::ui {

QIcon ProgramIcon();
QIcon BusyIcon();

enum class ToolImage { kFilters, kSettings, kUpdate, kHelp, kHome, kClose, kDebug };
QIcon ToolIcon(ToolImage image);

QPixmap SplashPicture();

}  // namespace orvanta::ui
