// The message reader on crafted messages: what reaches the temporary file and what the
// judge is asked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orvanta/pipeline/filter_checks.h"
#include "orvanta/pipeline/message_reader.h"
#include "pipeline_test_support.h"

using orvanta::pipeline::Judge;
using orvanta::pipeline::MessageReader;
using orvanta::pipeline::Verdict;
using pipeline_test::DotStuff;
using pipeline_test::ReadBytes;
using pipeline_test::StringSource;
using pipeline_test::TempDir;

namespace {

// Remembers every question; judges spam when a text contains `spamWord`.
class RecordingJudge : public Judge {
public:
    std::vector<std::string> subjects, bodies, fileNames;
    int programCalls = 0, programCount = 0;
    std::string spamWord;

    void Header(CMailHeader& header, Verdict&) override { subjects.push_back(header.GetSubject()); }
    void Body(std::string& text, Verdict& verdict) override
    {
        bodies.push_back(text);
        if (!spamWord.empty() && text.find(spamWord) != std::string::npos) {
            verdict.decided = verdict.spam = true;
        }
    }
    void FileName(const char* name, Verdict&) override { fileNames.push_back(name ? name : "(null)"); }
    void Program(CMailHeader*, int count, Verdict&) override
    {
        ++programCalls;
        programCount = count;
    }
};

const char kFooter[] = "<p>footer</p>";

struct ReadRun {
    MessageReader::Result result;
    std::string stored;
    Verdict verdict;
    bool passedThrough;
    size_t headerCount;
};

ReadRun ReadWire(RecordingJudge& judge, const std::string& wire, bool* atEnd = nullptr)
{
    TempDir dir;
    MessageReader reader(judge, kFooter);
    StringSource source(wire);
    ReadRun run;
    run.result = reader.Read(source, dir.File("temp.mail"), run.verdict);
    run.stored = ReadBytes(dir.File("temp.mail"));
    run.passedThrough = reader.PassedThrough();
    run.headerCount = reader.Headers().size();
    if (atEnd)
        *atEnd = source.AtEnd();
    return run;
}

const std::string kPlain = "From: Sender <sender@example.org>\r\n"
                           "To: user@example.net\r\n"
                           "Subject: Hello there\r\n"
                           "\r\n"
                           "First line.\r\n"
                           "..x starts with a dot\r\n"
                           ".\r\n"  // an unstuffed "." inside the message; on the wire it is ".."
                           "\r\n"
                           "Last line.\r\n";

}  // namespace

TEST(PipelineReader, PlainMessageIsStoredAsSentAndJudgedOnce)
{
    RecordingJudge judge;
    bool atEnd = false;
    ReadRun run = ReadWire(judge, DotStuff(kPlain) + "+OK next reply\r\n", &atEnd);
    EXPECT_EQ(run.result, MessageReader::Result::Complete);
    EXPECT_FALSE(atEnd) << "the reader must stop at the terminating line";
    EXPECT_EQ(run.stored, kPlain);
    ASSERT_EQ(judge.subjects.size(), 1u);
    EXPECT_EQ(judge.subjects[0], "Hello there");
    EXPECT_EQ(run.verdict.from, "sender@example.org");
    EXPECT_EQ(run.verdict.to, "user@example.net");
    ASSERT_EQ(judge.bodies.size(), 1u);
    EXPECT_EQ(judge.bodies[0], "First line.\r\n..x starts with a dot\r\n.\r\n\r\nLast line.\r\n");
    EXPECT_EQ(judge.programCalls, 1);
    EXPECT_EQ(judge.programCount, 1);
}

TEST(PipelineReader, TwoDotsAndXBecomeOneDot)
{
    RecordingJudge judge;
    std::string msg = "Subject: dots\r\n\r\n.x\r\n";
    ReadRun run = ReadWire(judge, "Subject: dots\r\n\r\n..x\r\n.\r\n");
    EXPECT_EQ(run.stored, msg);
}

TEST(PipelineReader, LongLinesAreStoredWholeAndOnlyRealLineStartsAreUnstuffed)
{
    // 5000-byte lines, one of them with a dot exactly where the reader cuts it (after 2047
    // bytes), another that starts with a dot and holds a cut that lands on a lone ".".
    std::string a(5000, 'a');
    std::string b(2047, 'b');
    b += "." + std::string(2952, 'c');
    // On the wire these are 2048 bytes: their second piece is a lone "." that ends the line.
    std::string dotted = "." + std::string(2045, 'd') + ".";
    std::string plain = std::string(2047, 'e') + ".";
    std::string msg = "Subject: long\r\n\r\n" + a + "\r\n" + b + "\r\n" + dotted + "\r\n" + plain + "\r\nend\r\n";
    RecordingJudge judge;
    ReadRun run = ReadWire(judge, DotStuff(msg));
    EXPECT_EQ(run.result, MessageReader::Result::Complete);
    EXPECT_EQ(run.stored, msg);
    ASSERT_EQ(judge.bodies.size(), 1u);
    EXPECT_EQ(judge.bodies[0], msg.substr(msg.find("\r\n\r\n") + 4));
}

TEST(PipelineReader, LongHeaderLineIsStoredWhole)
{
    std::string msg = "Subject: x\r\nX-Long: " + std::string(6000, 'h') + "\r\nFrom: a@b.example\r\n\r\nbody\r\n";
    RecordingJudge judge;
    ReadRun run = ReadWire(judge, DotStuff(msg));
    EXPECT_EQ(run.stored, msg);
    EXPECT_EQ(run.verdict.from, "a@b.example");
}

TEST(PipelineReader, HeaderThatFillsTheBufferExactlyIsStillCut)
{
    // Twenty lines of 2,002 bytes and one of 917 fill the 40,960-byte buffer up to its last
    // three bytes; what follows is beyond the cut and never reaches the filters.
    std::string msg;
    for (int i = 0; i < 20; ++i)
        msg += "X-Pad: " + std::string(1993, 'a') + "\r\n";
    msg += "X-Fill: " + std::string(907, 'b') + "\r\n";
    for (int i = 0; i < 50; ++i)
        msg += "X-More: " + std::string(1990, 'c') + "\r\n";
    msg += "Subject: beyond the cut\r\n\r\nbody\r\n";
    RecordingJudge judge;
    ReadRun run = ReadWire(judge, DotStuff(msg));
    EXPECT_EQ(run.stored, msg);
    ASSERT_EQ(judge.subjects.size(), 1u);
    EXPECT_EQ(judge.subjects[0], "");
    EXPECT_LE(run.headerCount, 22u);
}

TEST(PipelineReader, MixedMessageWithAttachmentLastGetsTheFooterPart)
{
    std::string head = "From: spam@example.org\r\n"
                       "Subject: offer\r\n"
                       "MIME-Version: 1.0\r\n"
                       "Content-Type: multipart/mixed; boundary=\"XYZ\"\r\n"
                       "\r\n"
                       "preamble\r\n";
    std::string text = "--XYZ\r\n"
                       "Content-Type: text/plain; charset=us-ascii\r\n"
                       "Content-Transfer-Encoding: base64\r\n"
                       "\r\n"
                       "QnV5IENIRUFQIHBpbGxz\r\n";  // "Buy CHEAP pills"
    std::string attachment = "--XYZ\r\n"
                             "Content-Type: application/octet-stream; name=\"prize.exe\"\r\n"
                             "Content-Transfer-Encoding: base64\r\n"
                             "\r\n"
                             "TVqQAAMAAAAEAAAA\r\n";
    std::string closing = "--XYZ--\r\nepilogue\r\n";
    std::string msg = head + text + attachment + closing;

    RecordingJudge judge;
    ReadRun run = ReadWire(judge, DotStuff(msg));
    std::string footerPart = "--XYZ\r\nContent-Type:text/html;charset=euc-kr\r\n\r\n" + std::string(kFooter) + "\r\n";
    EXPECT_EQ(run.stored, head + text + attachment + footerPart + closing);
    ASSERT_EQ(judge.bodies.size(), 1u);
    EXPECT_EQ(judge.bodies[0], "Buy CHEAP pills");
    ASSERT_EQ(judge.fileNames.size(), 1u);
    EXPECT_EQ(judge.fileNames[0], "prize.exe");
    EXPECT_EQ(judge.programCount, 3);  // the message's header and two part headers
}

TEST(PipelineReader, MixedMessageEndingInATextPartGetsNoFooter)
{
    std::string msg = "Subject: t\r\nContent-Type: multipart/mixed; boundary=b1\r\n\r\n"
                      "--b1\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
                      "--b1--\r\n";
    RecordingJudge judge;
    ReadRun run = ReadWire(judge, DotStuff(msg));
    EXPECT_EQ(run.stored, msg);
    ASSERT_EQ(judge.bodies.size(), 1u);
    EXPECT_EQ(judge.bodies[0], "hello\r\n");
}

TEST(PipelineReader, AlternativeMessageIsNeverGivenAFooter)
{
    std::string msg = "Subject: t\r\nContent-Type: multipart/alternative; boundary=b1\r\n\r\n"
                      "--b1\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
                      "--b1\r\nContent-Type: text/html\r\n\r\n<b>html</b>\r\n"
                      "--b1\r\nContent-Type: image/gif; name=a.gif\r\n\r\nR0lGOD\r\n"
                      "--b1--\r\n";
    RecordingJudge judge;
    ReadRun run = ReadWire(judge, DotStuff(msg));
    EXPECT_EQ(run.stored, msg);
    EXPECT_EQ(judge.bodies, (std::vector<std::string>{"plain\r\n", "<b>html</b>\r\n"}));
}

TEST(PipelineReader, TextBeyondTheBufferPassesThroughUnexamined)
{
    std::string body;
    while (body.size() < 200 * 1024)
        body += "This is a line of plain text that repeats for a while.\r\n";
    std::string msg = "Subject: big\r\nFrom: a@b.example\r\n\r\n" + body;
    RecordingJudge judge;
    ReadRun run = ReadWire(judge, DotStuff(msg));
    EXPECT_EQ(run.result, MessageReader::Result::Complete);
    EXPECT_TRUE(run.passedThrough);
    EXPECT_EQ(run.stored, msg);
    EXPECT_TRUE(judge.bodies.empty());
    EXPECT_EQ(judge.subjects.size(), 1u);
}

TEST(PipelineReader, MoreThanTwoHundredPartsAreAllParsed)
{
    std::string msg = "Subject: parts\r\nContent-Type: multipart/mixed; boundary=P\r\n\r\n";
    for (int i = 0; i < 350; ++i)
        msg += "--P\r\nContent-Type: application/octet-stream; name=\"f" + std::to_string(i) + ".bin\"\r\n\r\nAAAA\r\n";
    msg += "--P\r\nContent-Type: text/plain\r\n\r\nlast text\r\n--P--\r\n";
    RecordingJudge judge;
    ReadRun run = ReadWire(judge, DotStuff(msg));
    EXPECT_EQ(run.stored, msg);
    EXPECT_EQ(run.headerCount, 352u);
    EXPECT_EQ(judge.programCount, 352);
    EXPECT_EQ(judge.fileNames.size(), 350u);
    EXPECT_EQ(judge.fileNames.back(), "f349.bin");
    EXPECT_EQ(judge.bodies, (std::vector<std::string>{"last text\r\n"}));
}

TEST(PipelineReader, ADecidedVerdictStopsFurtherQuestions)
{
    std::string msg = "Subject: t\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                      "--b\r\nContent-Type: text/plain\r\n\r\nSPAMWORD here\r\n"
                      "--b\r\nContent-Type: application/zip; name=x.zip\r\n\r\nUEsDBA==\r\n--b--\r\n";
    RecordingJudge judge;
    judge.spamWord = "SPAMWORD";
    ReadRun run = ReadWire(judge, DotStuff(msg));
    EXPECT_TRUE(run.verdict.spam);
    EXPECT_TRUE(judge.fileNames.empty());
    EXPECT_EQ(judge.programCalls, 0);
}

TEST(PipelineReader, MessageWithoutBodyIsJudgedOnItsHeader)
{
    RecordingJudge judge;
    ReadRun run = ReadWire(judge, "From: a@b.example\r\nSubject: header only\r\n.\r\n");
    EXPECT_EQ(run.result, MessageReader::Result::Complete);
    EXPECT_EQ(run.stored, "From: a@b.example\r\nSubject: header only\r\n");
    EXPECT_EQ(judge.subjects, (std::vector<std::string>{"header only"}));
}

TEST(PipelineReader, ConnectionEndingInsideTheMessageIsReported)
{
    RecordingJudge judge;
    ReadRun run = ReadWire(judge, "Subject: cut\r\n\r\nfirst line\r\nsecond li");
    EXPECT_EQ(run.result, MessageReader::Result::Broken);
    EXPECT_EQ(judge.programCalls, 0);
}

TEST(PipelineReader, UncreatableTemporaryFileIsReported)
{
    RecordingJudge judge;
    MessageReader reader(judge, kFooter);
    StringSource source(DotStuff(kPlain));
    Verdict verdict;
    EXPECT_EQ(reader.Read(source, "/nonexistent-dir-for-pipeline/temp.mail", verdict),
              MessageReader::Result::FileError);
}

TEST(PipelineReader, FullDiskIsReportedAsAFailedWrite)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    RecordingJudge judge;
    MessageReader reader(judge, kFooter);
    StringSource source(DotStuff(kPlain));
    Verdict verdict;
    EXPECT_EQ(reader.Read(source, "/dev/full", verdict), MessageReader::Result::Complete);
    EXPECT_TRUE(reader.WriteFailed());
}
