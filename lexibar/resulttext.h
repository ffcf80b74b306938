// Explanations of the result codes that the dictionary and the speech engine
// give, and the dialog's failure messages built from them.
#pragma once

#include <windows.h>

// The constant text for the code, "Hiba." for a code without its own; never
// empty, allocates nothing.
const char *ResultText(HRESULT code);

// Composed message texts live in buffers of this size.
const size_t kMessageSize = 252;

// The failure text (ending in ". "), a line feed and the code's explanation.
void ComposeFailureMessage(char (&out)[kMessageSize], const char *failure, HRESULT code);
