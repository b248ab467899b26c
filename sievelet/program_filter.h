#pragma once

#include "sievelet/spam_filter_record.h"

class CMailHeader;

// The built-in detector of mail-borne worms. Each signature is a member named after its
// worm; it looks at the lower-cased subject and at the names of the attached files among the
// headers of the message's MIME parts (headers[0] is the message's own header). A hit fills
// the result with the worm's name as description, word "-", folder "INBOX", hit count 1,
// action 1 (delete at once), property ENTIRE, match kind 0.
//
// The object holds no data; the signatures' candidate sets are built once per process and
// only read afterwards, so one object may serve several threads.
class CProgramFilter {
public:
    CProgramFilter() = default;
    ~CProgramFilter() = default;

    // Runs the signatures in table order and stops at the first hit; on a hit *action
    // becomes 1. folder is not written. The subject is taken from headers[0].
    bool DoSpamFiltering(SPAM_FILTER& result, CMailHeader* headers, int count, char* folder, int* action);

    // Examines nothing and answers true; kept for callers of the exported interface.
    bool DoSpamContentFiltering(char* text, char* folder, int* action);

    // The number of signatures and the one at a table position (0-based), for callers that
    // list or test them one by one. Null past the end.
    using Signature = bool (CProgramFilter::*)(SPAM_FILTER&, const char*, CMailHeader*&, int);
    static int GetSignatureCount();
    static Signature GetSignature(int index);

    // The signatures, in table order. subject: lower-cased ('A'-'Z' folded), count: the
    // number of headers. Each fills the result before testing, except CheckVirusSubject and
    // CheckVirusFilename, which fill it only on a hit.
    bool CheckChetworm26628(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckKlezwormH(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckAssaworm69632(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckChiHackworm10748(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckManymizeworm(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckLavehnworm32768(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckFrethemworm48640(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckLiacworm12208(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckKitroworm169984(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckDoctorworm11776(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckYahaworm27648(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckHiguyworm34761(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckVBSChickG(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckPetLilworm37376(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckVBSVBSWGAQ(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckPetvbworm9216(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckEnemanyworm8704B(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckVBSHorty(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckMaldalworm21504(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckTrilisa(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckChickC(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckMylifeworm22528(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckMylifeworm12288(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckMylifeworm7168(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckMylifeworm13824(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckAploreworm319488(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckMylifeworm7680B(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckVBSVBSWGKr(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckVBSChickB(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckYahaworm23320(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckCervivecworm228872(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckVirusSubject(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckVirusFilename(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckMylifeworm11524(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckAtramworm49664(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckGibeworm122880(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckMylifeworm30720(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckHeidiworm7680(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckSharp12288(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckVBSChick(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckWargaworm77824(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckYarnerworm437760(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckYahaworm20992(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckVBSNumgame(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckW97MComical(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckVBSScenesRTF(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckMypartyworm29696(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckJSGigger(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckZoherworm6656(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckMaldalworm37376(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckVBSFundll(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckArsdworm(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckUpdatrworm1228(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckGonerworm38912(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckEiraworm(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckBadtransworm29020(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckRedesiworm(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckVBSVBSWGAF(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
    bool CheckAllgroworm(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count);
};
