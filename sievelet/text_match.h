#pragma once

#include <cstddef>

// Byte-text helpers shared by the filters. Case folding is ASCII only ('A'-'Z'), so CP949
// bytes are compared exactly as they stand.
namespace sievelet {

inline char LowerByte(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Copies at most size - 1 bytes of src into dst lower-cased and terminated; returns the
// length copied. A null src gives the empty text.
size_t LowerCopy(char* dst, size_t size, const char* src);

// Whole-text equality without regard to ASCII case; null equals nothing.
bool EqualsNoCase(const char* a, const char* b);

}  // namespace sievelet
