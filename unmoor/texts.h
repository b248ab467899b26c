#pragma once

// The uninstaller's texts as the user sees them (UTF-8; the window shows Unicode).
namespace unmoor::texts {

inline constexpr const char kTitle[] = "Orvanta For Outlook Zidevoz Uninstall";
inline constexpr const char kThanks[] = "Orvanta을 사용해 주셔서 감사드립니다.";
inline constexpr const char kQuestion[] = "Orvanta을 제거 하시겠습니까?";
inline constexpr const char kOk[] = "확인";
inline constexpr const char kCancel[] = "취소";
inline constexpr const char kExitFirst[] = "Orvanta을 먼저 종료해 주세요.";
inline constexpr const char kMessageTitle[] = "Unmoor";

}  // namespace unmoor::texts
