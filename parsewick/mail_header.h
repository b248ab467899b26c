#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/oledate.h"

// The parsed RFC 822 header of one message or MIME part. Filled line by line by
// CMailParser::CheckHeader (AddHeaderSrc for every raw line, BranchHeader per unfolded field).
// All texts are bytes in the mail's own character set; nothing is converted.
//
// Getters that look a key up in one of the maps insert it with an empty value when missing
// (GetHeaderMap then shows the empty entry). A char* result points into the object and stays
// valid until the object changes or is destroyed; it is never null.
class CMailHeader {
public:
    using HeaderMap = std::map<std::string, std::string>;
    using LineList = std::vector<std::string>;

    // Work-area limits of the field handlers; longer input is cut or refused at these sizes.
    static constexpr int kNameArea = 4096;         // display name: >= this stores nothing
    static constexpr int kContentTypeLimit = 500;  // Content-Type value: >= this, no parameters
    static constexpr int kDateArea = 100;          // date text: at most 99 bytes
    static constexpr int kDecodeArea = 2048;       // decoded subject / parameter: 2047 bytes
    static constexpr int kCharsetArea = 50;        // charset token of an encoded word
    static constexpr int kEncodingArea = 3;        // encoding token of an encoded word
    static constexpr int kWordArea = 2048;         // one decoded word: 2047 bytes

    CMailHeader();
    ~CMailHeader();
    CMailHeader(const CMailHeader&);
    CMailHeader& operator=(const CMailHeader&);
    CMailHeader(CMailHeader&&) noexcept;
    CMailHeader& operator=(CMailHeader&&) noexcept;

    // Sets the transfer encoding back to "7bit"; no other field changes.
    void ClearHeader();

    // Appends one raw header line (without its line end) to the header source.
    void AddHeaderSrc(const char* line);
    // Dispatches one unfolded field to its handler, then calls AddHeader(name, value).
    // name is lower-cased in place.
    void BranchHeader(char* name, char* value);
    // Lower-cases name in place; appends value to an existing non-empty entry with no
    // separator, or else sets the entry.
    void AddHeader(char* name, const char* value);
    // header fields[name] = value, name used unchanged.
    void SetHeader(const char* name, const char* value);
    // header fields[name] (name used unchanged: pass lower-case names).
    char* GetHeader(const char* name);
    HeaderMap GetHeaderMap() const;
    // The raw header lines themselves (not a copy).
    LineList* GetHeaderSrc();
    // Size of the header block as it stood: every line + CR LF, plus the blank line.
    long GetHeaderSize() const;

    // Field handlers (BranchHeader calls them; callable directly). The address handlers
    // append to their name/address texts, they never clear them.
    void ParsingFrom(const char* name, const char* value);
    void ParsingTo(const char* name, const char* value);
    void ParsingSender(const char* name, const char* value);
    void ParsingReturn_Path(const char* name, const char* value);
    void ParsingDate(const char* name, const char* value);
    void ParsingContent_Type(const char* name, const char* value);
    void ParsingSubject(const char* name, const char* value);
    void ParsingTransEncoding(const char* name, const char* value);
    void ParsingMessageID(const char* name, const char* value);
    // Splits an address field into display name and address, appending to both.
    void ParsingMailTag(const char* name, const char* value, std::string& outName, std::string& outMail);

    char* GetFromName();
    char* GetFromMail();
    char* GetToName();
    char* GetToMail();
    char* GetSenderName();
    char* GetSenderMail();
    char* GetReturnPathName();
    char* GetReturnPathMail();
    char* GetSubject();
    char* GetEncoding();
    char* GetMessageID();
    char* GetContentType();        // content-type parameters["type"]
    char* GetCharSet();            // content-type parameters["charset"]
    char* GetBoundary();           // content-type parameters["boundary"]
    char* GetDateHeader();         // header fields["date"]
    char* GetReplyTo();            // header fields["reply-to"]
    char* GetContentTypeHeader();  // header fields["content-type"]
    COleDateTime GetDate() const;  // invalid until a Date field parsed
    int GetPriority() const;       // always 1
    // True when the media type begins with "multipart" (case-sensitive).
    bool IsMultiPart();
    // True when the Content-Type parameter "name", else "filename", is non-empty.
    bool IsAttachFile();
    // parameters["name"] if non-empty, else parameters["filename"], else "".
    char* GetFileName();

    // RFC 2047 encoded-word decoder ("=?charset?B|Q?text?="); the charset is ignored and
    // decoded bytes are kept as they are. Returns false (dst untouched) for a src shorter than
    // 2 bytes. dst must hold strlen(src) + 1 bytes (the output is never longer than src).
    static bool CheckEncoding(const char* src, char* dst);
    // The same with an output area of dstSize bytes: the output is cut to dstSize - 1 bytes.
    static bool CheckEncoding(const char* src, char* dst, long dstSize);
    // Strips leading and trailing '"', blanks and tabs.
    static void EraseBlank(std::string& text);
    // Appends to out the non-empty pieces of src cut at every delimiter (pieces unchanged);
    // yields nothing for an empty src or one of 500 bytes or more.
    static void GetToken(const char* src, char delimiter, std::vector<std::string>& out);

    // Debug texts built from the fields; valid until the next call or a change.
    char* toStandardTagString();
    char* toAllString();

private:
    std::string m_encoding;
    std::string m_subject;
    std::string m_fromName;
    std::string m_fromMail;
    std::string m_senderName;
    std::string m_senderMail;
    std::string m_toName;
    std::string m_toMail;
    std::string m_returnPathName;
    std::string m_returnPathMail;
    std::string m_messageID;
    HeaderMap m_contentType;
    COleDateTime m_date;
    HeaderMap m_headers;
    LineList m_headerSrc;
    std::string m_debugText;
};
