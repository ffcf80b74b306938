// The dictionary file's text: the byte classes of the process code page that
// the rules and the word matching share, and the writing of the file's text.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "dictionary.h"


// Byte classes of the process code page, worked out once: the checks and the
// word splitting run over every byte of large texts and files.
struct ByteClasses {
    bool doubleByte; // a DBCS code page: bytes alone say too little
    bool wordByte[256];
    bool pronunciationByte[256];
    bool letterOrDigit[256];
    std::string utf8[256]; // each byte's character in UTF-8, for writing the file
    std::vector<short> fromWide; // UTF-16 unit -> byte, -1 where the code page has none

    ByteClasses() : doubleByte(false), fromWide(0x10000, -1) {
        for (int b = 0; b < 256; ++b) {
            wordByte[b] = pronunciationByte[b] = letterOrDigit[b] = false;
            if (IsDBCSLeadByte(static_cast<BYTE>(b)))
                doubleByte = true;
            char c = static_cast<char>(b);
            WCHAR w;
            if (b == 0 || MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &c, 1, &w, 1) != 1)
                continue;
            wordByte[b] = WordChar(w);
            pronunciationByte[b] = PronunciationChar(w);
            letterOrDigit[b] = LetterOrDigit(w);
            char bytes[4];
            int n = WideCharToMultiByte(CP_UTF8, 0, &w, 1, bytes, sizeof bytes, NULL, NULL);
            utf8[b].assign(bytes, n > 0 ? n : 0);
            if (fromWide[w] < 0)
                fromWide[w] = static_cast<short>(b);
        }
    }

    static WORD Type(WCHAR w) {
        WORD type = 0;
        GetStringTypeW(CT_CTYPE1, &w, 1, &type);
        return type;
    }
    // C1 controls (0x80-0x9F) stand for the bytes a code page leaves undefined.
    static bool WordChar(WCHAR w) {
        return w >= 0x20 && !(w >= 0x7F && w <= 0x9F) && !(Type(w) & (C1_CNTRL | C1_SPACE | C1_BLANK));
    }
    static bool PronunciationChar(WCHAR w) { return w == L' ' || w == L'-' || w == L'\'' || (Type(w) & C1_ALPHA); }
    static bool LetterOrDigit(WCHAR w) { return (Type(w) & (C1_ALPHA | C1_DIGIT)) != 0; }
};

const ByteClasses &Classes();

// The file's text, with `word` (when given) holding `senses` instead of what
// the entries hold: a change is written before it is made in memory.
std::string FormatWith(const DictionaryEntries &entries, const KeptLines &kept, const std::string *word,
                       const std::vector<std::string> *senses);
