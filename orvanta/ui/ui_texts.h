#pragma once

// The texts of the windows, UTF-8 (QString::fromUtf8 turns them into what Qt shows).
namespace orvanta::ui::text {

inline constexpr const char kMainTitle[] = "Orvanta Zidevoz";
inline constexpr const char kTrayTip[] = "Orvanta";
inline constexpr const char kCaption[] = "Orvanta";  // of every message box

// Toolbar.
inline constexpr const char kToolFilters[] = " 필터설정 ";
inline constexpr const char kToolSettings[] = " 환경설정 ";
inline constexpr const char kToolUpdate[] = " 업데이트 ";
inline constexpr const char kToolHelp[] = " 도움말 ";
inline constexpr const char kToolHome[] = " 홈 ";
inline constexpr const char kToolClose[] = " 닫기 ";
inline constexpr const char kToolDebug[] = " 디버그 ";

// Tray menu.
inline constexpr const char kTrayOpen[] = "Orvanta 열기";
inline constexpr const char kTrayLink[] = "Zidevoz 연동하기";
inline constexpr const char kTrayUnlink[] = "Zidevoz 연동중지";
inline constexpr const char kTrayUpdate[] = "업데이트";
inline constexpr const char kTrayHelp[] = "도움말";
inline constexpr const char kTrayAbout[] = "버전정보";
inline constexpr const char kTrayHome[] = "홈페이지";
inline constexpr const char kTrayExit[] = "끝내기";

// Filter settings tabs.
inline constexpr const char kTabOnline[] = "온라인필터";
inline constexpr const char kTabPrivate[] = "개인차단필터";
inline constexpr const char kTabPass[] = "통과필터";
inline constexpr const char kTabWarning[] = "경고문";

// Online filter page.
inline constexpr const char kUseOnline[] = "온라인 필터 사용 ( 권장 )";
inline constexpr const char kLevelBasic[] = "기본 필터 ( 50% 정도의 스팸메일 차단 )";
inline constexpr const char kLevelAdvanced[] = "고급 필터 ( 90% 정도의 스팸메일 차단 )";
inline constexpr const char kLevelProgram[] = "고급 필터 + 프로그램 필터";
inline constexpr const char kScopeSender[] = "메일/도메인";
inline constexpr const char kScopeSubject[] = "제목";
inline constexpr const char kScopeContent[] = "본문";
inline constexpr const char kScopeMesg[] = "메시지전체";
inline constexpr const char kScopeFileName[] = "파일이름";

// The list pages' buttons.
inline constexpr const char kAdd[] = "추가";
inline constexpr const char kEdit[] = "편집";
inline constexpr const char kDelete[] = "삭제";
inline constexpr const char kSearch[] = "검색";
inline constexpr const char kOk[] = "확인";
inline constexpr const char kCancel[] = "취소";
inline constexpr const char kClose[] = "닫기";
inline constexpr const char kDeleteQuestion[] = "필터를 삭제하시겠습니까?";

// Private filter page and dialog.
inline constexpr const char kUsePrivate[] = "개인차단필터 사용";
inline constexpr const char kColumnKind[] = "구분";
inline constexpr const char kColumnWord[] = "단어";
inline constexpr const char kColumnFolder[] = "스팸함";
inline constexpr const char kColumnDeleteAtOnce[] = "바로삭제";
inline constexpr const char kColumnHits[] = "검출";
inline constexpr const char kPrivateDialogTitle[] = "개인 차단필터 추가/편집";
inline constexpr const char kPrivateDialogIntro[] = "메일을 차단하기 위해서 필터를 설정합니다.";
inline constexpr const char kLabelKind[] = "구분";
inline constexpr const char kLabelAddress[] = "주소";
inline constexpr const char kLabelWord[] = "단어";
inline constexpr const char kLabelFileName[] = "파일이름";
inline constexpr const char kLabelDescription[] = "설명";
inline constexpr const char kLabelFolder[] = "스팸함";
inline constexpr const char kBrowse[] = "찾기";
inline constexpr const char kDeleteAtOnce[] = "바로삭제";
inline constexpr const char kWordTooLong[] = "단어는 40자 까지만 입력가능합니다.";
inline constexpr const char kFolderTooLong[] = "폴더는 200자 까지만 입력가능합니다.";
inline constexpr const char kDescriptionTooLong[] = "설명은 25자 까지만 입력가능합니다.";

// Pass filter page and dialog.
inline constexpr const char kUsePass[] = "통과 필터 사용";
inline constexpr const char kPassIntro[] = "특정한 메일/주소를 차단하지 않고 수신하기 위하여 통과필터를 설정합니다.";
inline constexpr const char kColumnSender[] = "보낸이";
inline constexpr const char kColumnPasses[] = "통과";
inline constexpr const char kPassDialogTitle[] = "통과필터 추가/편집";
inline constexpr const char kPassDialogIntro[] = "메일/도메인이 일치하면 무조건 통과시킵니다.";
inline constexpr const char kLabelMailDomain[] = "메일/도메인";
inline constexpr const char kAddressTooLong[] = "단어는 최대 40자까지만 지원됩니다.";
inline constexpr const char kPassDescriptionTooLong[] = "설명은 최대 25자까지만 지원됩니다.";

// Find window.
inline constexpr const char kFindTitle[] = "필터찾기";
inline constexpr const char kFindLabel[] = "문자열";
inline constexpr const char kFind[] = "찾기";

// Warning text page.
inline constexpr const char kUseWarn[] = "경고문 발송기능 사용";
inline constexpr const char kChooseWarn[] = "발송할 문구 선택";
inline constexpr const char kWarn1[] = "경고문1";
inline constexpr const char kWarn2[] = "경고문2";
inline constexpr const char kWarn3[] = "경고문3";
inline constexpr const char kEditWarn[] = "경고문편집";
inline constexpr const char kEditDone[] = "편집완료";

// Feedback prompts.
inline constexpr const char kPassPromptTitle[] = "통과필터추가 - 10초안에 자동종료됩니다.";
inline constexpr const char kPassPromptText[] = "아래 메일/도메인을 통과필터에 추가하시겠습니까? ";
inline constexpr const char kBlockPromptTitle[] = "차단필터추가 - 10초안에 자동종료됩니다.";
inline constexpr const char kBlockPromptText[] = "아래 메일/도메인을 차단필터에 추가하시겠습니까? ";
inline constexpr const char kDoNotAsk[] = "앞으로 묻지 않음";
inline constexpr const char kPromptAdd[] = "추가함";
inline constexpr const char kPromptDoNotAdd[] = "추가안함";

// Notice window, about box.
inline constexpr const char kNoticeTitle[] = "Orvanta 공지입니다.";
inline constexpr const char kToHomePage[] = "홈페이지로";
inline constexpr const char kVersionLabel[] = "버전 :";
inline constexpr const char kVersionLine[] = "Version : EXPRESS ";

// Mailbox management.
inline constexpr const char kMailboxTitle[] = "편지함관리";
inline constexpr const char kMailboxRoot[] = "<Orvanta>";
inline constexpr const char kNewFolder[] = "새폴더";
inline constexpr const char kRename[] = "이름바꾸기";
inline constexpr const char kDeleteFolder[] = "폴더삭제";
inline constexpr const char kMailboxNote[] =
    "편지함을 변경하셨을\n경우에는, 사용하시는\n메일프로그램에서 \nIMAP폴더 업데이트\n를 하셔야 합니다";
inline constexpr const char kNameDialogTitle[] = "편지함";
inline constexpr const char kNameDialogText[] = "새 편지함명을 넣어주세요.";
inline constexpr const char kBadFolderName[] = "폴더명을 올바르게 입력해주세요.";
inline constexpr const char kReservedName[] = "사용할 수 없는 이름입니다.";
inline constexpr const char kCannotRename[] = "변경 할 수 없는 편지함 입니다.";
inline constexpr const char kCannotDelete[] = "지울 수 없는 편지함 입니다.";
inline constexpr const char kCreateFailed[] = "폴더를 생성할수 없었습니다.";
inline constexpr const char kDeleteFolderQuestion[] =
    "폴더안에 있는 메일도 모두 삭제됩니다.\r\n폴더를 삭제하시겠습니까?";

// Debug window.
inline constexpr const char kDebugTitle[] = "디버그";

// Environment settings container.
inline constexpr const char kTabClientOptions[] = "메일프로그램연동옵션";
inline constexpr const char kTabProgramSettings[] = "Orvanta설정";

// Client options page.
inline constexpr const char kClientOptionsHeading[] = "Outlook Zidevoz 와의 연동 옵션을 설정합니다";
inline constexpr const char kClientLinkGroup[] = "클라이언트연동옵션";
inline constexpr const char kLinkButton[] = "Zidevoz 연동 하기";
inline constexpr const char kUnlinkButton[] = "Zidevoz 연동 중지";
inline constexpr const char kArrangeMailbox[] = "Orvanta 편지함 구성";
inline constexpr const char kAutoSpamGroup[] = "스팸함으로 메일 이동시 차단필터 추가";
inline constexpr const char kAutoPassGroup[] = "스팸함에서 FLAG 해제시 통과필터 추가";
inline constexpr const char kAskFirst[] = "확인창";
inline constexpr const char kAddAlways[] = "자동추가";
inline constexpr const char kAddAlwaysPass[] = "자동추가 ";  // with its trailing blank
inline constexpr const char kNotUsed[] = "사용안함";
inline constexpr const char kDeletePeriod[] = "스팸함삭제주기";
inline constexpr const char kNeverDelete[] = "자동삭제안함";
inline constexpr const char kDays[] = "일";  // "1일" to "10일"
inline constexpr const char kKeepDeletedInfo[] = "자동 삭제된 메일 정보 남기기";
inline constexpr const char kDeleteAtOnceNotice[] = "스팸메일을 스팸편지함 저장하지 않고, 영구히 삭제 합니다.\r\n";

// Program settings page.
inline constexpr const char kProgramSettingsHeading[] = "Orvanta의 환경을 설정합니다";
inline constexpr const char kGeneralGroup[] = "일반설정";
inline constexpr const char kAutoStart[] = "윈도우 시작시 자동 실행";
inline constexpr const char kAdvancedGroup[] = "고급설정";
inline constexpr const char kPop3Port[] = "POP3 Proxy 포트 ";
inline constexpr const char kImapPort[] = "IMAP 포트";
inline constexpr const char kSmtpPort[] = "SMTP Proxy 포트";
inline constexpr const char kLocalOnly[] = "Local 접속만 허용";
inline constexpr const char kRun[] = "실행";
inline constexpr const char kStop[] = "중지";
inline constexpr const char kDefaults[] = "기본값";
inline constexpr const char kPortRange[] = "포트는 1부터 9999사이값을 넣어주세요.";
inline constexpr const char kWholeNumber[] = "정수를 입력하십시오.";  // 61712

// Update page.
inline constexpr const char kUpdateHeading[] = "온라인필터를 업데이트합니다.";
inline constexpr const char kUpdateServer[] = "업데이트 서버";
inline constexpr const char kUpdatePeriod[] = "자동 업데이트 주기";
inline constexpr const char kNoAutoUpdate[] = "자동 업데이트 안함";
inline constexpr const char kUpdateNow[] = "지금업데이트하기";

// The SMTP proxy's server choice.
inline constexpr const char kSmtpChoiceTitle[] = "Orvanta - 메일보내기";
inline constexpr const char kSmtpChoiceText[] = "보내실 메일은 인증이 필요합니다. 보내고 있는 메일서버를 선택해주세요.";
inline constexpr const char kSmtpChoiceServer[] = "보내는서버";
inline constexpr const char kSmtpChoiceAlways[] = "인증이 필요한 서버는 항상 이  서버로 여김";

}  // namespace orvanta::ui::text
