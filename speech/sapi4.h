// The 8-bit (A) side of the Speech API 4.0 as this suite uses it, declared here
// binary-exact so that the programs load any real SAPI4 engine unchanged.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <stddef.h>

typedef unsigned __int64 QWORD;

// GUIDs are declared as extern "C" const and defined once in sapi4_guids.cpp,
// so that every program and the stand-in runtime share one definition.
extern "C" {
extern const CLSID CLSID_TTSEnumerator;
extern const CLSID CLSID_MMAudioDest;
extern const IID IID_ITTSEnumA;
extern const IID IID_ITTSFindA;
extern const IID IID_ITTSCentralA;
extern const IID IID_ITTSDialogsA;
extern const IID IID_ITTSNotifySinkA;
extern const IID IID_ITTSAttributesA;
extern const IID IID_ILexPronounceA;
extern const IID IID_ITTSBufNotifySink;
extern const IID IID_IAudio;
extern const IID IID_IAudioMultiMediaDevice;
}

// Lengths of the mode record's fields.
#define SVFN_LEN 262
#define TTSI_NAMELEN SVFN_LEN
#define TTSI_STYLELEN SVFN_LEN
#define LANG_LEN 64

typedef enum VOICECHARSET {
    CHARSET_TEXT = 0,
    CHARSET_IPAPHONETIC = 1,
    CHARSET_ENGINEPHONETIC = 2
} VOICECHARSET;

typedef enum VOICEPARTOFSPEECH {
    VPS_UNKNOWN = 0, VPS_NOUN, VPS_VERB, VPS_ADVERB, VPS_ADJECTIVE, VPS_PROPERNOUN,
    VPS_PRONOUN, VPS_CONJUNCTION, VPS_CARDINAL, VPS_ORDINAL, VPS_DETERMINER,
    VPS_QUANTIFIER, VPS_PUNCTUATION, VPS_CONTRACTION, VPS_INTERJECTION,
    VPS_ABBREVIATION, VPS_PREPOSITION
} VOICEPARTOFSPEECH;

typedef struct SDATA {
    PVOID pData;
    DWORD dwSize;
} SDATA, *PSDATA;

typedef struct LANGUAGEA {
    LANGID LanguageID;
    CHAR szDialect[LANG_LEN];
} LANGUAGEA, *PLANGUAGEA;

typedef struct TTSMODEINFOA {
    GUID gEngineID;
    CHAR szMfgName[TTSI_NAMELEN];
    CHAR szProductName[TTSI_NAMELEN];
    GUID gModeID;
    CHAR szModeName[TTSI_NAMELEN];
    LANGUAGEA language;
    CHAR szSpeaker[TTSI_NAMELEN];
    CHAR szStyle[TTSI_STYLELEN];
    WORD wGender;
    WORD wAge;
    DWORD dwFeatures;
    DWORD dwInterfaces;
    DWORD dwEngineFeatures;
} TTSMODEINFOA, *PTTSMODEINFOA;

typedef struct TTSMODEINFORANK {
    DWORD dwEngineID, dwMfgName, dwProductName, dwModeID, dwModeName, dwLanguage,
        dwDialect, dwSpeaker, dwStyle, dwGender, dwAge, dwFeatures, dwInterfaces,
        dwEngineFeatures;
} TTSMODEINFORANK, *PTTSMODEINFORANK;

typedef struct TTSMOUTH {
    BYTE bMouthHeight, bMouthWidth, bMouthUpturn, bJawOpen, bTeethUpperVisible,
        bTeethLowerVisible, bTonguePosn, bLipTension;
} TTSMOUTH, *PTTSMOUTH;

// A real engine fills these records; any drift in layout would read garbage.
static_assert(sizeof(SDATA) == (sizeof(void *) == 4 ? 8 : 16), "SDATA is 8 bytes on i686");
static_assert(sizeof(LANGUAGEA) == 66, "LANGUAGEA layout");
static_assert(sizeof(TTSMODEINFOA) == 1424, "TTSMODEINFOA layout");
static_assert(offsetof(TTSMODEINFOA, szMfgName) == 16, "szMfgName offset");
static_assert(offsetof(TTSMODEINFOA, szProductName) == 278, "szProductName offset");
static_assert(offsetof(TTSMODEINFOA, gModeID) == 540, "gModeID offset");
static_assert(offsetof(TTSMODEINFOA, szModeName) == 556, "szModeName offset");
static_assert(offsetof(TTSMODEINFOA, language) == 818, "language offset");
static_assert(offsetof(TTSMODEINFOA, szSpeaker) == 884, "szSpeaker offset");
static_assert(offsetof(TTSMODEINFOA, wGender) == 1408, "wGender offset");
static_assert(offsetof(TTSMODEINFOA, dwFeatures) == 1412, "dwFeatures offset");
static_assert(offsetof(TTSMODEINFOA, dwInterfaces) == 1416, "dwInterfaces offset");
static_assert(sizeof(TTSMODEINFORANK) == 56, "TTSMODEINFORANK layout");
static_assert(sizeof(TTSMOUTH) == 8, "TTSMOUTH layout");

// Flags and feature bits.
#define TTSDATAFLAG_TAGGED 0x1
#define TTSBNS_ABORTED 0x1
#define GENDER_NEUTRAL 0
#define GENDER_FEMALE 1
#define GENDER_MALE 2
#define TTSAGE_CHILD 6
#define TTSAGE_ADULT 30
#define TTSAGE_ELDERLY 70

#define TTSFEATURE_ANYWORD 0x00001
#define TTSFEATURE_VOLUME 0x00002
#define TTSFEATURE_SPEED 0x00004
#define TTSFEATURE_PITCH 0x00008
#define TTSFEATURE_TAGGED 0x00010
#define TTSFEATURE_PCOPTIMIZED 0x00100
#define TTSFEATURE_SAPI4 0x10000

#define TTSI_ILEXPRONOUNCE 0x01
#define TTSI_ITTSATTRIBUTES 0x02
#define TTSI_ITTSCENTRAL 0x04
#define TTSI_ITTSDIALOGS 0x08
#define TTSI_ATTRIBUTES 0x10
#define TTSI_ILEXPRONOUNCE2 0x20

// Result codes (FACILITY_ITF). LEXERR_ALREADYINLEX is a success in 4.0.
#define AUDERR_NOTENOUGHDATA ((HRESULT)0x80040201L)
#define TTSERR_WAVEFORMATNOTSUPPORTED ((HRESULT)0x80040202L)
#define TTSERR_WAVEDEVICEBUSY ((HRESULT)0x80040203L)
#define AUDERR_INVALIDFLAG ((HRESULT)0x80040204L)
#define TTSERR_OUTOFDISK ((HRESULT)0x80040205L)
#define TTSERR_INVALIDMODE ((HRESULT)0x80040206L)
#define SRERR_INVALIDLIST ((HRESULT)0x80040207L)
#define TTSERR_INVALIDCHAR ((HRESULT)0x80040208L)
#define TTSERR_INVALIDKEY ((HRESULT)0x80040209L)
#define TTSERR_QUEUEFULL ((HRESULT)0x8004020AL)
#define VTXTERR_EMPTYSPEAKSTRING ((HRESULT)0x8004020BL)
#define E_WRONGTYPE ((HRESULT)0x8004020DL)
#define E_BUFFERTOOSMALL ((HRESULT)0x8004020EL)
#define TTSERR_NOTPAUSED ((HRESULT)0x80040501L)
#define TTSERR_ALREADYPAUSED ((HRESULT)0x80040502L)
#define LEXERR_INVALIDTEXTCHAR ((HRESULT)0x80040801L)
#define LEXERR_INVALIDSENSE ((HRESULT)0x80040802L)
#define LEXERR_NOTINLEX ((HRESULT)0x80040803L)
#define LEXERR_OUTOFDISK ((HRESULT)0x80040804L)
#define LEXERR_INVALIDPRONCHAR ((HRESULT)0x80040805L)
#define LEXERR_ALREADYINLEX ((HRESULT)0x00040806L)
#define LEXERR_PRNBUFTOOSMALL ((HRESULT)0x80040807L)
#define LEXERR_ENGBUFTOOSMALL ((HRESULT)0x80040808L)
#define LEXERR_INVALIDLEX ((HRESULT)0x80040809L)

// Interfaces: plain single inheritance from IUnknown, every method __stdcall,
// SDATA and GUID parameters by value exactly as the real vtables take them.
struct ITTSCentralA;

struct ITTSEnumA : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, PTTSMODEINFOA rgModes, ULONG *pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(ITTSEnumA **ppClone) = 0;
    virtual HRESULT STDMETHODCALLTYPE Select(GUID gModeID, ITTSCentralA **ppCentral, IUnknown *pAudioDest) = 0;
};

struct ITTSFindA : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Find(PTTSMODEINFOA pWanted, PTTSMODEINFORANK pRank, PTTSMODEINFOA pFound) = 0;
    virtual HRESULT STDMETHODCALLTYPE Select(GUID gModeID, ITTSCentralA **ppCentral, IUnknown *pAudioDest) = 0;
};

struct ITTSCentralA : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Inject(const char *pszTag) = 0;
    virtual HRESULT STDMETHODCALLTYPE ModeGet(PTTSMODEINFOA pModeInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE Phoneme(VOICECHARSET eCharSet, DWORD dwFlags, SDATA dText, PSDATA pdPhoneme) = 0;
    virtual HRESULT STDMETHODCALLTYPE PosnGet(QWORD *pqwTimeStamp) = 0;
    virtual HRESULT STDMETHODCALLTYPE TextData(VOICECHARSET eCharSet, DWORD dwFlags, SDATA dText, PVOID pNotifySink, IID iidNotifySink) = 0;
    virtual HRESULT STDMETHODCALLTYPE ToFileTime(QWORD *pqwTimeStamp, FILETIME *pft) = 0;
    virtual HRESULT STDMETHODCALLTYPE AudioPause() = 0;
    virtual HRESULT STDMETHODCALLTYPE AudioResume() = 0;
    virtual HRESULT STDMETHODCALLTYPE AudioReset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Register(PVOID pNotifySink, IID iidNotifySink, DWORD *pdwKey) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnRegister(DWORD dwKey) = 0;
};

struct ITTSDialogsA : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AboutDlg(HWND hWndParent, const char *pszTitle) = 0;
    virtual HRESULT STDMETHODCALLTYPE LexiconDlg(HWND hWndParent, const char *pszTitle) = 0;
    virtual HRESULT STDMETHODCALLTYPE GeneralDlg(HWND hWndParent, const char *pszTitle) = 0;
    virtual HRESULT STDMETHODCALLTYPE TranslateDlg(HWND hWndParent, const char *pszTitle) = 0;
};

struct ILexPronounceA : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Add(VOICECHARSET eCharSet, const char *pszText, const char *pszPronounce,
                                         VOICEPARTOFSPEECH ePartOfSpeech, PVOID pEngineInfo, DWORD dwEngineInfoSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE Get(VOICECHARSET eCharSet, const char *pszText, WORD wSense, char *pszPronounce,
                                         DWORD dwPronounceSize, DWORD *pdwPronounceNeeded,
                                         VOICEPARTOFSPEECH *pePartOfSpeech, PVOID pEngineInfo,
                                         DWORD dwEngineInfoSize, DWORD *pdwEngineInfoNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE Remove(const char *pszText, WORD wSense) = 0;
};

struct ITTSBufNotifySink : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE TextDataDone(QWORD qTimeStamp, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE TextDataStarted(QWORD qTimeStamp) = 0;
    virtual HRESULT STDMETHODCALLTYPE BookMark(QWORD qTimeStamp, DWORD dwMarkNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE WordPosition(QWORD qTimeStamp, DWORD dwByteOffset) = 0;
};

// The class context every object of the suite is made in. MinGW's CLSCTX_ALL
// is wider than the SDK's, so the value is spelled out.
#define SAPI4_CLSCTX ((DWORD)(CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER))
