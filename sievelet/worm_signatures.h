#pragma once

#include <string>
#include <vector>

#include "sievelet/candidate_set.h"

// The worm signatures' data: names, subject texts and attachment names, with their
// candidate sets built once on first use.
namespace sievelet {

// Table positions, in the order the program filter runs the signatures.
enum WormIndex : int {
    CheckChetworm26628,
    CheckKlezwormH,
    CheckAssaworm69632,
    CheckChiHackworm10748,
    CheckManymizeworm,
    CheckLavehnworm32768,
    CheckFrethemworm48640,
    CheckLiacworm12208,
    CheckKitroworm169984,
    CheckDoctorworm11776,
    CheckYahaworm27648,
    CheckHiguyworm34761,
    CheckVBSChickG,
    CheckPetLilworm37376,
    CheckVBSVBSWGAQ,
    CheckPetvbworm9216,
    CheckEnemanyworm8704B,
    CheckVBSHorty,
    CheckMaldalworm21504,
    CheckTrilisa,
    CheckChickC,
    CheckMylifeworm22528,
    CheckMylifeworm12288,
    CheckMylifeworm7168,
    CheckMylifeworm13824,
    CheckAploreworm319488,
    CheckMylifeworm7680B,
    CheckVBSVBSWGKr,
    CheckVBSChickB,
    CheckYahaworm23320,
    CheckCervivecworm228872,
    CheckVirusSubject,
    CheckVirusFilename,
    CheckMylifeworm11524,
    CheckAtramworm49664,
    CheckGibeworm122880,
    CheckMylifeworm30720,
    CheckHeidiworm7680,
    CheckSharp12288,
    CheckVBSChick,
    CheckWargaworm77824,
    CheckYarnerworm437760,
    CheckYahaworm20992,
    CheckVBSNumgame,
    CheckW97MComical,
    CheckVBSScenesRTF,
    CheckMypartyworm29696,
    CheckJSGigger,
    CheckZoherworm6656,
    CheckMaldalworm37376,
    CheckVBSFundll,
    CheckArsdworm,
    CheckUpdatrworm1228,
    CheckGonerworm38912,
    CheckEiraworm,
    CheckBadtransworm29020,
    CheckRedesiworm,
    CheckVBSVBSWGAF,
    CheckAllgroworm,
    kWormCount
};

enum class WormTest {
    SubjectAndFile,  // a listed subject text and a listed attachment name
    SubjectOnly,     // a listed subject text
    FileOnly,        // a listed attachment name
    WholeSubject,    // the subject equals a listed text
    VirusSubject,    // CheckVirusSubject's pairs
    VirusFilename,   // CheckVirusFilename's pairs
};

struct WormSignature {
    const char* name = "";  // the reported description
    WormTest test = WormTest::SubjectAndFile;
    SubjectSet subjects;  // lower-cased
    FileNameSet files;
};

// A subject text (lower-cased) or attachment name with the description it reports.
struct WormPair {
    std::string text;
    std::string description;  // worm name + " Virus"
};

struct WormTables {
    WormSignature signatures[kWormCount];
    std::vector<WormPair> virusSubjects;   // tried in this order
    std::vector<WormPair> virusFilenames;  // tried in this order, per attachment
    // Every substring-tested subject text of every signature, marked with bit (1 << index)
    // of its signature: one walk over a subject tells which subject tests can succeed.
    SubjectSet subjectMarks;
};
static_assert(kWormCount <= 64, "one mark bit per signature");

// Built on first use (thread-safe) and only read afterwards.
const WormTables& Worms();

}  // namespace sievelet
