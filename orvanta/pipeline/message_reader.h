#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "orvanta/pipeline/verdict.h"
#include "parsewick/mail_header.h"

class CPop3Client;

namespace orvanta::pipeline {

class Judge;

// Where a retrieved message comes from: one line, or one piece of a longer line, per call
// (without its line end), as CClientSocket::ReadLine hands them out.
class LineSource {
public:
    virtual ~LineSource() = default;
    // Bytes copied into dest (at most size - 1, terminated), -1 when the connection ended.
    virtual int ReadLine(char* dest, int size) = 0;
    // Whether the text the last ReadLine returned finished its line.
    virtual bool LastLineEnded() const = 0;
};

// The lines of the POP3 client's server connection.
class Pop3LineSource : public LineSource {
public:
    explicit Pop3LineSource(CPop3Client& client) : client_(client) {}
    int ReadLine(char* dest, int size) override;
    bool LastLineEnded() const override;

private:
    CPop3Client& client_;
};

// Reads one retrieved message up to its terminating "." into the temporary file, parsing it
// block by block and asking the judge on the way. Each message passes through fixed
// buffers: a 2048-byte line, a 40960-byte header block and a 102400-byte text part; a text
// part that outgrows its buffer switches the rest of the message to pass-through, unexamined.
//
// The file receives the message exactly as the server sent it, dot-unstuffed, every line
// ending in CR LF; a line longer than one read is stored whole, and dot-unstuffing and the
// terminating "." apply only at the start of a real line. The one addition: a multipart/mixed
// message whose last part was not a collected text part gets a text/html part holding the
// footer just before its closing boundary.
class MessageReader {
public:
    static constexpr int kLineSize = 2048;
    static constexpr size_t kHeaderBufferSize = 40960;
    static constexpr size_t kTextBufferSize = 102400;

    enum class Result {
        Complete,   // the terminating "." arrived
        Broken,     // the connection ended before it
        FileError,  // the temporary file could not be created
    };

    MessageReader(Judge& judge, std::string htmlFooter) : judge_(judge), footer_(std::move(htmlFooter)) {}

    Result Read(LineSource& source, const std::string& tempPath, Verdict& verdict);

    // True when some write to the temporary file failed (a full disk): the file is then not
    // a faithful copy of the message.
    bool WriteFailed() const { return writeFailed_; }
    // The header blocks parsed from the last message, the message's own header first.
    std::vector<CMailHeader>& Headers() { return headers_; }
    // True when the last message switched to pass-through.
    bool PassedThrough() const { return passThrough_; }

private:
    void Reset();
    void Write(const char* data, size_t length, bool lineEnd);
    void EndHeaderBlock(Verdict& verdict);
    void FinishText(Verdict& verdict);
    void WriteFooterPart();

    Judge& judge_;
    std::string footer_;

    FILE* file_ = nullptr;
    bool writeFailed_ = false;

    std::string header_;      // the header block being read
    bool headerCut_ = false;  // it outgrew its buffer
    std::string text_;        // the text part being collected
    std::vector<CMailHeader> headers_;
    std::string boundary_;      // the top-level boundary, at most 99 bytes
    std::string boundaryLine_;  // "--" + boundary
    std::string encoding_;      // the current text part's transfer encoding, at most 49 bytes

    bool topDone_ = false;
    bool multipart_ = false;
    bool mixed_ = false;
    bool inBody_ = false;
    bool collecting_ = false;
    bool nested_ = false;
    bool passThrough_ = false;
};

}  // namespace orvanta::pipeline
