#pragma once

namespace orvanta::pipeline {

// The settings one examination reads, taken once at its start so that a change made by the
// user interface meanwhile cannot mix two configurations inside one message.
struct ExamineSettings {
    bool usePass = true;
    bool usePrivate = true;
    bool useOnline = true;
    int filterPriority = 2;
    bool filterSender = true;
    bool filterSubject = true;
    bool filterContent = false;
    bool filterMesg = false;
    bool filterFileName = true;
    bool delLog = true;
    int delTerm = 0;
    bool useWarn = false;
    int selectWarn = 0;
    // Longest examination at one log-in, in seconds (0 or less: no bound).
    int examSeconds = 60;
    // The learning filter scores what the others pass ("USE_LEARN").
    bool useLearn = true;

    // A snapshot of the program's current settings.
    static ExamineSettings Current();
};

}  // namespace orvanta::pipeline
