#pragma once

// The updater's texts as the user sees them (UTF-8; the window shows Unicode).
namespace freshet::texts {

inline constexpr const char kTitlePrefix[] = "Orvanta Updater - ";
inline constexpr const char kDefaultSiteName[] = "Orvanta서버";
inline constexpr const char kIntro[] = "필터나 프로그램을 업데이트 합니다.";
inline constexpr const char kCancel[] = "취소";
inline constexpr const char kOk[] = "확인";
inline constexpr const char kMessageTitle[] = "Freshet";
inline constexpr const char kQuestionTitle[] = "주의";
inline constexpr const char kQuestion[] = "업데이트를 취소하시겠습니까?";

inline constexpr const char kCannotRun[] = "업데이트를 실행할수 없었습니다.";
inline constexpr const char kCannotConnect[] = "서버에 접속할 수 없습니다.\r\n잠시후에 다시 시도해 주세요.";
inline constexpr const char kNothingToUpdate[] = "업데이트 할 파일이 없습니다.";
inline constexpr const char kStopping[] = "프로그램을 종료시킵니다.";
inline constexpr const char kCopying[] = "업데이트 파일을 복사합니다.";
inline constexpr const char kDone[] = "업데이트를 완료했습니다.프로그램을 재실행합니다.";
inline constexpr const char kCopyFailed[] = "파일을 복사하는데 실패했습니다.";
inline constexpr const char kCancelled[] = "업데이트를 취소하셨습니다.";
inline constexpr const char kNoSuchFile[] = "파일이 존재하지 않아서, 업데이트를 할수 없습니다.";
inline constexpr const char kSaveFailed[] = "파일을 저장하는데 실패했습니다.";
inline constexpr const char kFetchFailed[] = "파일을 가져오는데 실패했습니다.";
// Appended to a file name: "<name> 을 가져오고 있습니다."
inline constexpr const char kFetchingSuffix[] = " 을 가져오고 있습니다.";
// Appended to a file name the update list places outside the installation directory.
inline constexpr const char kRefusedSuffix[] = " 은(는) 설치 폴더 밖을 가리키므로 건너뜁니다.";

}  // namespace freshet::texts
