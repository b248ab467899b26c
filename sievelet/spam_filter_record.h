#pragma once

#include <cstdint>

// Block-rule kinds: what a rule examines.
enum SpamFilterProperty : unsigned char {
    SPAM_PROPERTY_SENDER = 0,
    SPAM_PROPERTY_RECEIVER = 1,
    SPAM_PROPERTY_SUBJECT = 2,
    SPAM_PROPERTY_CONTENT = 3,
    SPAM_PROPERTY_SUBJECT_CONTENT = 4,
    SPAM_PROPERTY_ENTIRE = 5,
    SPAM_PROPERTY_FILENAME = 6,
};

// Rule levels: a rule applies when the caller's filter level is at least this value.
enum SpamFilterLevel : unsigned char {
    SPAM_LEVEL_LOW = 0,
    SPAM_LEVEL_MID = 1,
    SPAM_LEVEL_HIGH = 2,
};

// `match`: 1 makes the word a regular expression, anything else a plain substring.
constexpr unsigned char SPAM_MATCH_REGEXP = 1;
// `action`: 1 deletes the message at once, 0 stores it in the rule's folder.
constexpr unsigned char SPAM_ACTION_DELETE = 1;
constexpr unsigned char SPAM_ACTION_STORE = 0;

constexpr int SPAM_WORD_SIZE = 81;         // 80 bytes and the terminator
constexpr int SPAM_DESCRIPTION_SIZE = 51;  // 50 bytes and the terminator
constexpr int SPAM_FOLDER_SIZE = 256;      // 255 bytes and the terminator
constexpr int SPAM_NAME_SIZE = 50;         // one entry of the name tables below

// One block rule. A plain fixed-size record: callers copy it by value.
struct SPAM_FILTER {
    int32_t fid;       // unique within its list, never reused
    uint8_t fclass;    // two reserved bits carried through the file; matching ignores them
    uint8_t sign;      // 0 "+", 1 "-"
    uint8_t level;     // SpamFilterLevel
    uint8_t property;  // SpamFilterProperty
    uint8_t match;     // SPAM_MATCH_REGEXP or substring
    uint8_t action;    // SPAM_ACTION_DELETE or SPAM_ACTION_STORE
    int32_t hit;       // messages caught so far
    char word[SPAM_WORD_SIZE];
    char description[SPAM_DESCRIPTION_SIZE];
    char folder[SPAM_FOLDER_SIZE];

    // Names of a sign, level or property value; a value outside its table gives "".
    // The Korean names are CP949 bytes.
    static const char* GetFlagName(int sign);
    static const char* GetPriorityName(int level);
    static const char* GetPriorityEngName(int level);
    static const char* GetPropertyName(int property);
    static const char* GetPropertyEngName(int property);

    // The same for this record's own fields.
    const char* GetFlagName() const { return GetFlagName(sign); }
    const char* GetPriorityName() const { return GetPriorityName(level); }
    const char* GetPriorityEngName() const { return GetPriorityEngName(level); }
    const char* GetPropertyName() const { return GetPropertyName(property); }
    const char* GetPropertyEngName() const { return GetPropertyEngName(property); }
};

// The name tables behind the operations above, indexed by value.
extern const char flag_name[2][SPAM_NAME_SIZE];
extern const char priority_name[3][SPAM_NAME_SIZE];
extern const char priority_eng_name[3][SPAM_NAME_SIZE];
extern const char property_name[7][SPAM_NAME_SIZE];
extern const char property_eng_name[7][SPAM_NAME_SIZE];
