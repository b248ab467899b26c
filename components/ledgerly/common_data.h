#pragma once

// Texts the updater takes at start. The second argument is always 1 and selects nothing.
class CCommonData {
public:
    // Absolute http URL of the update service's directory, without a trailing "/":
    // $ORVANTA_UPDATE_URL when it is set and valid, the compiled default otherwise (the same
    // address the main program gets). The buffer holds 100 bytes.
    static void GetUpdateURL(char* buffer, int which);
};
