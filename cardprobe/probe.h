// What the four natives do, without the Java side: the natives only convert
// arguments and results, so these can be driven directly against PC/SC.
#pragma once
#include <string>
#include <vector>

// The reader names of all groups, in the order PC/SC lists them.
int ProbeReaderNames(std::vector<std::string> *names);
// The ATR of the card in the reader as upper-case hex text.
int ProbeAtrText(const char *readerName, std::string *text);
// Connects to the reader and selects the application whose AID is hex text.
// A context that cannot be established gives its raw PC/SC status.
int ProbeSelectApplet(const char *readerName, const char *aidText);
// The module's FileVersion text without its blanks; empty when there is none.
std::string ProbeNativeVersion();
// Removes the blanks of a version text, keeping at most 127 characters.
std::string CompactVersionText(const char *text);
