#pragma once

// Texts the main program takes at start. Each operation fills the caller's buffer with a
// terminated text; the second argument is always 1 and selects nothing.
class CProgramInfo {
public:
    // Plain-text footer appended directly after every warning text (CP949, CRLF line ends).
    // The buffer holds 1000 bytes.
    static void GetTEXTFooter(char* buffer, int which);

    // HTML footer, the body of the text/html part added to stored spam (CP949, which is what
    // that part's charset=euc-kr declares). The buffer holds 1000 bytes.
    static void GetHTMLFooter(char* buffer, int which);

    // Absolute http URL of the update service's directory, without a trailing "/":
    // $ORVANTA_UPDATE_URL when it is set and valid, the compiled default otherwise.
    // The buffer holds 100 bytes.
    static void GetUpdateURL(char* buffer, int which);
};
