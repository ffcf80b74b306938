// Explanations of the result codes that the dictionary and the speech engine
// give, and the dialog's failure messages built from them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The constant text for the code, "Hiba." for a code without its own; never
// empty, allocates nothing.
const char *ResultText(HRESULT code);

// Composed message texts live in buffers of this size.
const size_t kMessageSize = 252;

// The failure text (ending in ". "), a line feed and the code's explanation.
void ComposeFailureMessage(char (&out)[kMessageSize], const char *failure, HRESULT code);

// A line after the message saying exactly which pronunciations the word now
// has, for a Modify that could not put the word back as it was; cut with an
// ellipsis where the buffer ends.
void AppendPronunciations(char (&message)[kMessageSize], const std::vector<std::string> &senses);
