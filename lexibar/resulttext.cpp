// ResultText: the Hungarian one-sentence explanation of a speech or COM result
// code, appended under the dictionary dialog's failure messages.
#include "resulttext.h"

#include <string.h>

#include <algorithm>

const char *ResultText(HRESULT code)
{
    // Whole 32-bit values: a success and a failure with the same low bits
    // are different codes.
    switch (static_cast<unsigned long>(code)) {
    case 0x00000000: // S_OK
        return "OK.";
    case 0x00000001: // S_FALSE
        return "A függvényhívás sikertelen.";
    case 0x00040806: // LEXERR_ALREADYINLEX
        return "A szótár már tartalmaz információt a megadott szóra.";
    case 0x80004001: // E_NOTIMPL
        return "Nem támogatott funkció.";
    case 0x80004002: // E_NOINTERFACE
        return "Az interfész érvénytelen.";
    case 0x80004005: // E_FAIL
        return "Sikertelen függvény.";
    case 0x8000FFFF: // E_UNEXPECTED
        return "Az érték a megengedett tartományon kívül van.";
    case 0x8004000F: // OLE_E_INVALIDHWND
        return "Az ablak érvénytelen.";
    case 0x80040155: // REGDB_E_IIDNOTREG
        return "A tárgyalkalmazás fut, de a lekérendő interfész interfész azonosítóját nem lehet távolra átadni, mert a regisztrációs adatbázisban nincs információ, ami jelezné, hogy ezt hogyan kell megtenni.";
    case 0x800401FD: // CO_E_OBJNOTCONNECTED
        return "A kezelő létrejött, de a tárgyalkalmazás nem fut.";
    case 0x80040202: // TTSERR_WAVEFORMATNOTSUPPORTED
        return "Nincs támogatott hullámforma formátum.";
    case 0x80040203: // TTSERR_WAVEDEVICEBUSY
        return "A hullámforma eszköz foglalt.";
    case 0x80040205: // TTSERR_OUTOFDISK
        return "Nincs több lemezterület.";
    case 0x80040206: // TTSERR_INVALIDMODE
        return "A beszédmód érvénytelen.";
    case 0x80040208: // TTSERR_INVALIDCHAR
        return "A szöveg tartalmaz egy érvénytelen karaktert.";
    case 0x80040209: // TTSERR_INVALIDKEY
        return "A regisztrációs kulcs érvénytelen.";
    case 0x8004020A: // TTSERR_QUEUEFULL
        return "A szövegsor telítve van.";
    case 0x8004020D: // E_WRONGTYPE
        return "Az attribútum létezik, de nem a kért típusból való.";
    case 0x8004020E: // E_BUFFERTOOSMALL
        return "A puffer nem elég nagy, az adat csonkolva van.";
    case 0x80040801: // LEXERR_INVALIDTEXTCHAR
        return "A sztring amelyben a kiejtendő szó van tartalmaz egy érvénytelen karaktert.";
    case 0x80040802: // LEXERR_INVALIDSENSE
        return "Az érték, amely a szó alternatív kiejtését vagy jelentését tartalmazza, érvénytelen.";
    case 0x80040803: // LEXERR_NOTINLEX
        return "A megadott szó nincs benne a szótárban.";
    case 0x80040804: // LEXERR_OUTOFDISK
        return "A lemezen nincs elég hely hogy szótárhoz hozzáadandó információ elmentéséhez.";
    case 0x80040805: // LEXERR_INVALIDPRONCHAR
        return "A sztringben, amely a megadott szó fonetikus vagy fonémikus leírását tartalmazza, egy érvénytelen karakter található.";
    case 0x80040807: // LEXERR_PRNBUFTOOSMALL
        return "A puffer, amelybe a megadott szó fonetikus vagy fonémikus leírása kerülne, nem elég nagy.";
    case 0x80040808: // LEXERR_ENGBUFTOOSMALL
        return "A puffer, amelybe a megadott szóval kapcsolatos járulékos információ kerülne, nem elég nagy.";
    case 0x80040809: // LEXERR_INVALIDLEX
        return "Érvénytelen szótár.";
    case 0x80070005: // E_ACCESSDENIED
        return "Az attribútum csak olvasható.";
    case 0x8007000E: // E_OUTOFMEMORY
        return "Nincs elég memória.";
    case 0x80070020: // HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)
        // Not one of the engine's documented codes, but what a dictionary
        // kept in a file answers while another program holds that file; the
        // user can do something about it only when told so.
        return "A fájlt egy másik program használja.";
    case 0x80070057: // E_INVALIDARG
        return "Érvénytelen argumentum megadva a függvényhívásban.";
    default:
        return "Hiba.";
    }
}

void ComposeFailureMessage(char (&out)[kMessageSize], const char *failure, HRESULT code)
{
    // The longest pair fits; anything longer is cut rather than overrun.
    // Copied by hand: printf would bring its floating point formatting along.
    const char *parts[] = {failure, "\n", ResultText(code)};
    size_t n = 0;
    for (const char *part : parts) {
        for (; *part && n + 1 < sizeof out; ++part)
            out[n++] = *part;
    }
    out[n] = '\0';
}

void AppendPronunciations(char (&message)[kMessageSize], const std::vector<std::string> &senses)
{
    std::string line = "\n";
    if (senses.empty()) {
        line += "A szónak most nincs kiejtése a szótárban.";
    } else {
        line += senses.size() == 1 ? "A szó kiejtése most a szótárban: " : "A szó kiejtései most a szótárban: ";
        for (size_t i = 0; i < senses.size(); ++i)
            line += (i ? ", „" : "„") + senses[i] + "”";
        line += ".";
    }
    size_t n = strnlen(message, sizeof message);
    size_t room = sizeof message - 1 - n;
    if (line.size() > room && room > 0)
        line = line.substr(0, room - 1) + "…";
    memcpy(message + n, line.data(), std::min(line.size(), room));
    message[n + std::min(line.size(), room)] = '\0';
}
