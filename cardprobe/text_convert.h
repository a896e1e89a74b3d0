#pragma once
#include <string>

// A reader name from the platform's multi-byte text (the ANSI code page on
// Windows, UTF-8 on Linux) as UTF-16, without any terminating NUL.
std::u16string ReaderNameToUtf16(const std::string &name);
