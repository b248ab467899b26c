#include "orvanta/pipeline/message_reader.h"

#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include "fetchling/pop3_client.h"
#include "orvanta/pipeline/filter_checks.h"
#include "parsewick/base64.h"
#include "parsewick/mail_parser.h"

namespace orvanta::pipeline {
namespace {

constexpr size_t kBoundarySize = 100;  // 99 bytes and the terminator
constexpr size_t kEncodingSize = 50;
constexpr size_t kAddressSize = 100;
constexpr size_t kSubjectSize = 201;
constexpr size_t kFileBufferSize = 64 * 1024;

std::string Bounded(const char* text, size_t size)
{
    if (!text)
        return {};
    return std::string(text, strnlen(text, size - 1));
}

bool StartsWith(const char* data, size_t length, const std::string& prefix)
{
    return length >= prefix.size() && std::memcmp(data, prefix.data(), prefix.size()) == 0;
}

bool IsTextType(const char* type)
{
    return type == nullptr || *type == '\0' || strcasecmp(type, "text/html") == 0 ||
           strcasecmp(type, "text/plain") == 0;
}

}  // namespace

int Pop3LineSource::ReadLine(char* dest, int size) { return client_.ReadLine(dest, size); }

bool Pop3LineSource::LastLineEnded() const { return client_.LastLineEnded(); }

void MessageReader::Reset()
{
    writeFailed_ = false;
    header_.clear();
    headerCut_ = false;
    text_.clear();
    headers_.clear();
    boundary_.clear();
    boundaryLine_.clear();
    encoding_.clear();
    topDone_ = multipart_ = mixed_ = inBody_ = collecting_ = nested_ = passThrough_ = false;
}

void MessageReader::Write(const char* data, size_t length, bool lineEnd)
{
    if (length > 0 && std::fwrite(data, 1, length, file_) != length)
        writeFailed_ = true;
    if (lineEnd && std::fwrite("\r\n", 1, 2, file_) != 2)
        writeFailed_ = true;
}

MessageReader::Result MessageReader::Read(LineSource& source, const std::string& tempPath, Verdict& verdict)
{
    Reset();
    // The file is overwritten in place and cut to the new length at the end: truncating it
    // to nothing first would make the file system flush every message to disk at close.
    int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return Result::FileError;
    file_ = ::fdopen(fd, "w");
    if (!file_) {
        ::close(fd);
        return Result::FileError;
    }
    std::setvbuf(file_, nullptr, _IOFBF, kFileBufferSize);
    if (headers_.capacity() < 200)
        headers_.reserve(200);

    char line[kLineSize];
    bool atLineStart = true;
    bool complete = false;
    for (;;) {
        int n = source.ReadLine(line, kLineSize);
        if (n < 0)
            break;
        const bool ended = source.LastLineEnded();
        const bool lineStart = atLineStart;
        atLineStart = ended;
        const char* p = line;
        size_t length = static_cast<size_t>(n);

        if (lineStart) {
            if (ended && length == 1 && p[0] == '.') {
                complete = true;
                break;
            }
            // Dot-unstuffing: a real line of more than one byte that starts with a dot.
            if (length > 0 && p[0] == '.' && (length > 1 || !ended)) {
                ++p;
                --length;
            }
        }

        if (passThrough_) {
            Write(p, length, ended);
            continue;
        }

        if (!inBody_) {
            // Header mode: collect the block, keep the line in the file as it came.
            if (!headerCut_) {
                // Room is kept for the line end and the blank line that close the block.
                // A line that just fitted leaves its CR LF inside that reserve: no room then.
                const size_t limit = kHeaderBufferSize - 5;
                size_t room = header_.size() < limit ? limit - header_.size() : 0;
                if (length > room) {
                    header_.append(p, room);
                    headerCut_ = true;
                } else {
                    header_.append(p, length);
                    if (ended)
                        header_.append("\r\n");
                }
            }
            Write(p, length, ended);
            if (lineStart && ended && length == 0)
                EndHeaderBlock(verdict);
            continue;
        }

        if (collecting_) {
            bool boundary =
                lineStart && multipart_ && boundaryLine_.size() >= 3 && StartsWith(p, length, boundaryLine_);
            if (!boundary) {
                if (length + 10 >= kTextBufferSize - text_.size()) {
                    // Too much text to examine: the rest of the message passes unexamined.
                    Write(text_.data(), text_.size(), false);
                    Write(p, length, ended);
                    text_.clear();
                    collecting_ = false;
                    passThrough_ = true;
                    continue;
                }
                text_.append(p, length);
                if (ended)
                    text_.append("\r\n");
                continue;
            }
            FinishText(verdict);
            collecting_ = false;
            inBody_ = false;
            Write(p, length, ended);
            continue;
        }

        if (multipart_ && lineStart && !boundary_.empty() && length >= 3 && StartsWith(p + 2, length - 2, boundary_)) {
            if (mixed_ && StartsWith(p + 2, length - 2, boundary_ + "--"))
                WriteFooterPart();
            inBody_ = false;
        }
        Write(p, length, ended);
    }

    if (collecting_) {
        FinishText(verdict);
        collecting_ = false;
    }
    // A message that ends inside its own header (no blank line, no body) is still judged
    // on that header.
    if (complete && !topDone_ && !header_.empty() && !passThrough_) {
        if (header_.size() < 2 || header_.compare(header_.size() - 2, 2, "\r\n") != 0)
            header_.append("\r\n");
        header_.append("\r\n");
        EndHeaderBlock(verdict);
    }
    if (complete && !verdict.decided)
        judge_.Program(headers_.data(), static_cast<int>(headers_.size()), verdict);

    if (std::fflush(file_) != 0)
        writeFailed_ = true;
    off_t length = ::ftello(file_);
    if (length < 0 || ::ftruncate(::fileno(file_), length) != 0)
        writeFailed_ = true;
    if (std::fclose(file_) != 0)
        writeFailed_ = true;
    file_ = nullptr;
    return complete ? Result::Complete : Result::Broken;
}

void MessageReader::EndHeaderBlock(Verdict& verdict)
{
    if (headerCut_) {
        if (header_.size() < 2 || header_.compare(header_.size() - 2, 2, "\r\n") != 0)
            header_.append("\r\n");
        header_.append("\r\n");
    }
    CMailHeader& header = headers_.emplace_back();
    CMailParser::CheckHeader(nullptr, header_.c_str(), 0, static_cast<int>(header_.size()), header);

    const bool top = !topDone_;
    if (top) {
        topDone_ = true;
        if (!verdict.decided)
            judge_.Header(header, verdict);
        verdict.from = Bounded(header.GetFromMail(), kAddressSize);
        verdict.to = Bounded(header.GetToMail(), kAddressSize);
        verdict.subject = Bounded(header.GetSubject(), kSubjectSize);
        multipart_ = header.IsMultiPart();
        boundary_ = Bounded(header.GetBoundary(), kBoundarySize);
        if (multipart_)
            boundaryLine_ = "--" + boundary_;
        mixed_ = strcasecmp(header.GetContentType(), "multipart/mixed") == 0;
    }
    const bool attachment = header.IsAttachFile();
    if (!verdict.decided && attachment)
        judge_.FileName(header.GetFileName(), verdict);
    if (!top)
        nested_ = header.IsMultiPart();
    if (!attachment && IsTextType(header.GetContentType()) && (!multipart_ || !top)) {
        collecting_ = true;
        encoding_ = Bounded(header.GetEncoding(), kEncodingSize);
        text_.clear();
    }
    header_.clear();
    headerCut_ = false;
    inBody_ = true;
}

void MessageReader::FinishText(Verdict& verdict)
{
    if (!nested_ && !verdict.decided) {
        std::string copy;
        if (strcasecmp(encoding_.c_str(), "base64") == 0) {
            int count = static_cast<int>(text_.size()) - 1;
            if (count > 0) {
                copy.resize(static_cast<size_t>(count) + 1);
                int produced = CBase64::Decode(text_.data(), count, copy.data());
                copy.resize(produced > 0 ? static_cast<size_t>(produced) : 0);
            }
        } else {
            copy = text_;
        }
        judge_.Body(copy, verdict);
    }
    Write(text_.data(), text_.size(), false);
    text_.clear();
}

void MessageReader::WriteFooterPart()
{
    Write(boundaryLine_.data(), boundaryLine_.size(), true);
    static constexpr char kType[] = "Content-Type:text/html;charset=euc-kr";
    Write(kType, sizeof kType - 1, true);
    Write("", 0, true);
    Write(footer_.data(), footer_.size(), true);
}

}  // namespace orvanta::pipeline
