#include "sievelet/program_filter.h"

#include <cstring>

#include "components/toolwick/spam_util.h"
#include "parsewick/parsewick.h"
#include "sievelet/text_match.h"
#include "sievelet/worm_signatures.h"

namespace {

constexpr size_t kSubjectSize = 10240;  // subjects are examined up to 10239 bytes

using sievelet::WormIndex;
using sievelet::WormTest;

void FillResult(SPAM_FILTER& result, const char* description)
{
    CSpamUtil::STRNCPY(result.description, description, sizeof result.description);
    CSpamUtil::STRNCPY(result.word, "-", sizeof result.word);
    CSpamUtil::STRNCPY(result.folder, "INBOX", sizeof result.folder);
    result.hit = 1;
    result.action = SPAM_ACTION_DELETE;
    result.property = SPAM_PROPERTY_ENTIRE;
    result.match = 0;
}

// An attachment among the headers whose name is in the set.
bool AttachmentIn(const sievelet::FileNameSet& files, CMailHeader* headers, int count)
{
    if (!headers)
        return false;
    for (int i = 0; i < count; ++i)
        if (headers[i].IsAttachFile() && files.Contains(headers[i].GetFileName()))
            return true;
    return false;
}

bool RunSignature(WormIndex index, SPAM_FILTER& result, const char* subject, CMailHeader* headers, int count)
{
    const sievelet::WormSignature& sig = sievelet::Worms().signatures[index];
    FillResult(result, sig.name);
    size_t length = subject ? std::strlen(subject) : 0;
    switch (sig.test) {
    case WormTest::SubjectAndFile:
        return sig.subjects.OccursIn(subject, length) && count >= 1 && AttachmentIn(sig.files, headers, count);
    case WormTest::SubjectOnly: return sig.subjects.OccursIn(subject, length);
    case WormTest::WholeSubject: return sig.subjects.EqualsOne(subject, length);
    case WormTest::FileOnly: return count >= 1 && AttachmentIn(sig.files, headers, count);
    default: return false;
    }
}

}  // namespace

#define SIEVELET_SIGNATURE(member)                                                                                     \
    bool CProgramFilter::member(SPAM_FILTER& result, const char* subject, CMailHeader*& headers, int count)            \
    {                                                                                                                  \
        return RunSignature(sievelet::member, result, subject, headers, count);                                        \
    }

SIEVELET_SIGNATURE(CheckChetworm26628)
SIEVELET_SIGNATURE(CheckKlezwormH)
SIEVELET_SIGNATURE(CheckAssaworm69632)
SIEVELET_SIGNATURE(CheckChiHackworm10748)
SIEVELET_SIGNATURE(CheckManymizeworm)
SIEVELET_SIGNATURE(CheckLavehnworm32768)
SIEVELET_SIGNATURE(CheckFrethemworm48640)
SIEVELET_SIGNATURE(CheckLiacworm12208)
SIEVELET_SIGNATURE(CheckKitroworm169984)
SIEVELET_SIGNATURE(CheckDoctorworm11776)
SIEVELET_SIGNATURE(CheckYahaworm27648)
SIEVELET_SIGNATURE(CheckHiguyworm34761)
SIEVELET_SIGNATURE(CheckVBSChickG)
SIEVELET_SIGNATURE(CheckPetLilworm37376)
SIEVELET_SIGNATURE(CheckVBSVBSWGAQ)
SIEVELET_SIGNATURE(CheckPetvbworm9216)
SIEVELET_SIGNATURE(CheckEnemanyworm8704B)
SIEVELET_SIGNATURE(CheckVBSHorty)
SIEVELET_SIGNATURE(CheckMaldalworm21504)
SIEVELET_SIGNATURE(CheckTrilisa)
SIEVELET_SIGNATURE(CheckChickC)
SIEVELET_SIGNATURE(CheckMylifeworm22528)
SIEVELET_SIGNATURE(CheckMylifeworm12288)
SIEVELET_SIGNATURE(CheckMylifeworm7168)
SIEVELET_SIGNATURE(CheckMylifeworm13824)
SIEVELET_SIGNATURE(CheckAploreworm319488)
SIEVELET_SIGNATURE(CheckMylifeworm7680B)
SIEVELET_SIGNATURE(CheckVBSVBSWGKr)
SIEVELET_SIGNATURE(CheckVBSChickB)
SIEVELET_SIGNATURE(CheckYahaworm23320)
SIEVELET_SIGNATURE(CheckCervivecworm228872)
SIEVELET_SIGNATURE(CheckMylifeworm11524)
SIEVELET_SIGNATURE(CheckAtramworm49664)
SIEVELET_SIGNATURE(CheckGibeworm122880)
SIEVELET_SIGNATURE(CheckMylifeworm30720)
SIEVELET_SIGNATURE(CheckHeidiworm7680)
SIEVELET_SIGNATURE(CheckSharp12288)
SIEVELET_SIGNATURE(CheckVBSChick)
SIEVELET_SIGNATURE(CheckWargaworm77824)
SIEVELET_SIGNATURE(CheckYarnerworm437760)
SIEVELET_SIGNATURE(CheckYahaworm20992)
SIEVELET_SIGNATURE(CheckVBSNumgame)
SIEVELET_SIGNATURE(CheckW97MComical)
SIEVELET_SIGNATURE(CheckVBSScenesRTF)
SIEVELET_SIGNATURE(CheckMypartyworm29696)
SIEVELET_SIGNATURE(CheckJSGigger)
SIEVELET_SIGNATURE(CheckZoherworm6656)
SIEVELET_SIGNATURE(CheckMaldalworm37376)
SIEVELET_SIGNATURE(CheckVBSFundll)
SIEVELET_SIGNATURE(CheckArsdworm)
SIEVELET_SIGNATURE(CheckUpdatrworm1228)
SIEVELET_SIGNATURE(CheckGonerworm38912)
SIEVELET_SIGNATURE(CheckEiraworm)
SIEVELET_SIGNATURE(CheckBadtransworm29020)
SIEVELET_SIGNATURE(CheckRedesiworm)
SIEVELET_SIGNATURE(CheckVBSVBSWGAF)
SIEVELET_SIGNATURE(CheckAllgroworm)

#undef SIEVELET_SIGNATURE

bool CProgramFilter::CheckVirusSubject(SPAM_FILTER& result, const char* subject, CMailHeader*& /*headers*/,
                                       int /*count*/)
{
    if (!subject)
        return false;
    for (const sievelet::WormPair& pair : sievelet::Worms().virusSubjects) {
        if (std::strstr(subject, pair.text.c_str())) {
            FillResult(result, pair.description.c_str());
            return true;
        }
    }
    return false;
}

bool CProgramFilter::CheckVirusFilename(SPAM_FILTER& result, const char* /*subject*/, CMailHeader*& headers, int count)
{
    if (!headers)
        return false;
    const auto& pairs = sievelet::Worms().virusFilenames;
    for (int i = 0; i < count; ++i) {
        if (!headers[i].IsAttachFile())
            continue;
        const char* name = headers[i].GetFileName();
        for (const sievelet::WormPair& pair : pairs) {
            if (sievelet::EqualsNoCase(name, pair.text.c_str())) {
                FillResult(result, pair.description.c_str());
                return true;
            }
        }
    }
    return false;
}

namespace {

// The member table: the order in which DoSpamFiltering runs the signatures.
const CProgramFilter::Signature kSignatures[] = {&CProgramFilter::CheckChetworm26628,
                                                 &CProgramFilter::CheckKlezwormH,
                                                 &CProgramFilter::CheckAssaworm69632,
                                                 &CProgramFilter::CheckChiHackworm10748,
                                                 &CProgramFilter::CheckManymizeworm,
                                                 &CProgramFilter::CheckLavehnworm32768,
                                                 &CProgramFilter::CheckFrethemworm48640,
                                                 &CProgramFilter::CheckLiacworm12208,
                                                 &CProgramFilter::CheckKitroworm169984,
                                                 &CProgramFilter::CheckDoctorworm11776,
                                                 &CProgramFilter::CheckYahaworm27648,
                                                 &CProgramFilter::CheckHiguyworm34761,
                                                 &CProgramFilter::CheckVBSChickG,
                                                 &CProgramFilter::CheckPetLilworm37376,
                                                 &CProgramFilter::CheckVBSVBSWGAQ,
                                                 &CProgramFilter::CheckPetvbworm9216,
                                                 &CProgramFilter::CheckEnemanyworm8704B,
                                                 &CProgramFilter::CheckVBSHorty,
                                                 &CProgramFilter::CheckMaldalworm21504,
                                                 &CProgramFilter::CheckTrilisa,
                                                 &CProgramFilter::CheckChickC,
                                                 &CProgramFilter::CheckMylifeworm22528,
                                                 &CProgramFilter::CheckMylifeworm12288,
                                                 &CProgramFilter::CheckMylifeworm7168,
                                                 &CProgramFilter::CheckMylifeworm13824,
                                                 &CProgramFilter::CheckAploreworm319488,
                                                 &CProgramFilter::CheckMylifeworm7680B,
                                                 &CProgramFilter::CheckVBSVBSWGKr,
                                                 &CProgramFilter::CheckVBSChickB,
                                                 &CProgramFilter::CheckYahaworm23320,
                                                 &CProgramFilter::CheckCervivecworm228872,
                                                 &CProgramFilter::CheckVirusSubject,
                                                 &CProgramFilter::CheckVirusFilename,
                                                 &CProgramFilter::CheckMylifeworm11524,
                                                 &CProgramFilter::CheckAtramworm49664,
                                                 &CProgramFilter::CheckGibeworm122880,
                                                 &CProgramFilter::CheckMylifeworm30720,
                                                 &CProgramFilter::CheckHeidiworm7680,
                                                 &CProgramFilter::CheckSharp12288,
                                                 &CProgramFilter::CheckVBSChick,
                                                 &CProgramFilter::CheckWargaworm77824,
                                                 &CProgramFilter::CheckYarnerworm437760,
                                                 &CProgramFilter::CheckYahaworm20992,
                                                 &CProgramFilter::CheckVBSNumgame,
                                                 &CProgramFilter::CheckW97MComical,
                                                 &CProgramFilter::CheckVBSScenesRTF,
                                                 &CProgramFilter::CheckMypartyworm29696,
                                                 &CProgramFilter::CheckJSGigger,
                                                 &CProgramFilter::CheckZoherworm6656,
                                                 &CProgramFilter::CheckMaldalworm37376,
                                                 &CProgramFilter::CheckVBSFundll,
                                                 &CProgramFilter::CheckArsdworm,
                                                 &CProgramFilter::CheckUpdatrworm1228,
                                                 &CProgramFilter::CheckGonerworm38912,
                                                 &CProgramFilter::CheckEiraworm,
                                                 &CProgramFilter::CheckBadtransworm29020,
                                                 &CProgramFilter::CheckRedesiworm,
                                                 &CProgramFilter::CheckVBSVBSWGAF,
                                                 &CProgramFilter::CheckAllgroworm};
static_assert(sizeof kSignatures / sizeof kSignatures[0] == sievelet::kWormCount);

}  // namespace

int CProgramFilter::GetSignatureCount() { return sievelet::kWormCount; }

CProgramFilter::Signature CProgramFilter::GetSignature(int index)
{
    if (index < 0 || index >= sievelet::kWormCount)
        return nullptr;
    return kSignatures[index];
}

// Runs only the signatures that can still hit: one walk over the subject finds every
// signature whose subject test succeeds, and one look at the headers whether there is an
// attachment at all. A signature left out would only have filled the result and missed, and
// every later signature's filling replaces that, so the outcome is that of running them all.
bool CProgramFilter::DoSpamFiltering(SPAM_FILTER& result, CMailHeader* headers, int count, char* /*folder*/,
                                     int* action)
{
    if (!headers || count < 1)
        count = 0;
    char subject[kSubjectSize];
    size_t length = sievelet::LowerCopy(subject, sizeof subject, count >= 1 ? headers[0].GetSubject() : "");

    const sievelet::WormTables& worms = sievelet::Worms();
    uint64_t subjectHits = worms.subjectMarks.Marks(subject, length);
    bool anyAttachment = false;
    for (int i = 0; i < count && !anyAttachment; ++i)
        anyAttachment = headers[i].IsAttachFile();

    for (int index = 0; index < sievelet::kWormCount; ++index) {
        bool subjectHit = (subjectHits >> index) & 1;
        bool worthRunning = false;
        switch (worms.signatures[index].test) {
        case WormTest::SubjectAndFile: worthRunning = subjectHit && anyAttachment; break;
        case WormTest::SubjectOnly:
        case WormTest::VirusSubject: worthRunning = subjectHit; break;
        case WormTest::FileOnly:
        case WormTest::VirusFilename: worthRunning = anyAttachment; break;
        case WormTest::WholeSubject: worthRunning = true; break;
        }
        if (worthRunning && (this->*kSignatures[index])(result, subject, headers, count)) {
            if (action)
                *action = SPAM_ACTION_DELETE;
            return true;
        }
    }
    // What the last signature leaves behind when it misses.
    static_assert(sievelet::kWormCount - 1 == sievelet::CheckAllgroworm);
    FillResult(result, worms.signatures[sievelet::CheckAllgroworm].name);
    return false;
}

bool CProgramFilter::DoSpamContentFiltering(char* /*text*/, char* /*folder*/, int* /*action*/) { return true; }
