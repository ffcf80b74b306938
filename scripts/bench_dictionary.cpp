// Benchmark of the runtime's user dictionary with 100 000 entries: loading
// the file, Get, Add and Remove with their durable write (through the
// runtime, as a client calls them), TextData of long texts (up to 16 MB), the
// time a short TextData keeps the caller's thread with the dictionary
// unchanged and right after another process stored a change, and the memory
// the largest file the runtime takes needs. Built and run by
// scripts/bench_dictionary.sh; prints one figure a line.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "dictionary.h"
#include "sapi4.h"

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency.QuadPart;
}

struct Figures {
    std::vector<double> ms;
    void Add(double seconds) { ms.push_back(seconds * 1000); }
    void Print(const char *what) {
        std::sort(ms.begin(), ms.end());
        double sum = 0;
        for (double m : ms)
            sum += m;
        printf("%-44s n=%-6zu median %8.4f ms  mean %8.4f ms  max %8.4f ms\n", what, ms.size(), ms[ms.size() / 2],
               sum / ms.size(), ms.back());
    }
};

// Hungarian-looking words and pronunciations in code page 1250.
std::string RandomWord(std::mt19937 &rng, size_t minLength, size_t maxLength) {
    static const char letters[] = "aábcdeéfghiíjklmnoóöőpqrstuúüűvwxyz";
    std::string alphabet = letters;
    std::uniform_int_distribution<size_t> length(minLength, maxLength), pick(0, alphabet.size() - 1);
    std::string word;
    for (size_t i = length(rng); i > 0; --i)
        word += alphabet[pick(rng)];
    return word;
}

// Memory the process has committed, in MB.
double CommittedMb() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage / 1048576.0;
}

// The largest file the runtime takes, of the shortest lines (the most
// entries, so the most memory): what one process holds of it, and at the
// peak of a change.
void LargestFileMemory(const std::string &path, std::mt19937 &rng) {
    // Letters of one byte in UTF-8 too, so that the file's size is known.
    std::uniform_int_distribution<int> letter('a', 'z'), length(3, 5);
    DictionaryEntries entries;
    size_t bytes = 23; // the header line
    while (bytes + 16 < kMaxDictionaryFileBytes) {
        std::string word;
        for (int i = length(rng); i > 0; --i)
            word += static_cast<char>(letter(rng));
        if (entries.count(word))
            continue;
        entries[word].push_back(std::string(1, static_cast<char>(letter(rng))));
        bytes += word.size() + 3;
    }
    std::string text = FormatDictionary(entries, {});
    size_t count = entries.size();
    entries.clear();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD wrote = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &wrote, NULL);
    CloseHandle(file);
    text = std::string();
    double before = CommittedMb();
    {
        UserDictionary largest(path);
        size_t loaded = 0;
        // A caller waits only so long for a read; this one waits until it is done.
        for (int i = 0; i < 300 && loaded == 0; ++i, Sleep(100))
            loaded = largest.WordCount();
        double held = CommittedMb() - before;
        HRESULT hr = largest.Add("zzzz", "z");
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        printf("largest file: %lu bytes, %zu entries (%zu read); held %.0f MB, peak of a change %.0f MB "
               "(Add 0x%08lX)\n",
               static_cast<unsigned long>(wrote), count, loaded, held,
               counters.PeakPagefileUsage / 1048576.0 - before, static_cast<unsigned long>(hr));
    }
    DeleteFileA(path.c_str());
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_dictionary WINDOWS-PATH-OF-DICTIONARY [ENTRIES [RUNTIME-DLL]]\n");
        return 2;
    }
    std::string path = argv[1];
    size_t count = argc > 2 ? strtoul(argv[2], NULL, 10) : 100000;
    SetEnvironmentVariableA("SPEECHRT_DICTIONARY", path.c_str());
    SetEnvironmentVariableA("SPEECHRT_JOURNAL", NULL);
    SetEnvironmentVariableA("SPEECHRT_CONFIG", NULL);

    std::mt19937 rng(4711);
    DictionaryEntries entries;
    std::vector<std::string> words;
    while (entries.size() < count) {
        std::string word = RandomWord(rng, 4, 14);
        if (entries.count(word))
            continue;
        entries[word].push_back(RandomWord(rng, 4, 18));
        words.push_back(word);
    }
    std::string text = FormatDictionary(entries, {});
    DeleteFileA(path.c_str());
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD wrote = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &wrote, NULL);
    CloseHandle(file);
    printf("entries %zu, file %lu bytes\n", count, static_cast<unsigned long>(wrote));

    Figures load;
    for (int i = 0; i < 7; ++i) {
        double start = Now();
        UserDictionary fresh(path);
        size_t n = fresh.WordCount();
        load.Add(Now() - start);
        if (n != count) {
            fprintf(stderr, "loaded %zu entries instead of %zu\n", n, count);
            return 1;
        }
    }
    load.Print("load (read, convert, parse)");

    CoInitialize(NULL);
    ITTSFindA *find = NULL;
    IUnknown *audio = NULL;
    if (argc > 3) {
        // A runtime of the caller's choice (e.g. an older build to compare with).
        HMODULE dll = LoadLibraryA(argv[3]);
        typedef HRESULT(STDAPICALLTYPE * GetClassObjectFn)(REFCLSID, REFIID, void **);
        GetClassObjectFn get = dll ? reinterpret_cast<GetClassObjectFn>(
                                         reinterpret_cast<void *>(GetProcAddress(dll, "DllGetClassObject")))
                                   : NULL;
        IClassFactory *enumerators = NULL, *audios = NULL;
        if (!get || FAILED(get(CLSID_TTSEnumerator, IID_IClassFactory, reinterpret_cast<void **>(&enumerators))) ||
            FAILED(get(CLSID_MMAudioDest, IID_IClassFactory, reinterpret_cast<void **>(&audios))) ||
            FAILED(enumerators->CreateInstance(NULL, IID_ITTSFindA, reinterpret_cast<void **>(&find))) ||
            FAILED(audios->CreateInstance(NULL, IID_IUnknown, reinterpret_cast<void **>(&audio)))) {
            fprintf(stderr, "cannot use the runtime %s\n", argv[3]);
            return 1;
        }
        enumerators->Release();
        audios->Release();
    } else if (FAILED(CoCreateInstance(CLSID_TTSEnumerator, NULL, SAPI4_CLSCTX, IID_ITTSFindA,
                                       reinterpret_cast<void **>(&find))) ||
               FAILED(CoCreateInstance(CLSID_MMAudioDest, NULL, SAPI4_CLSCTX, IID_IUnknown,
                                       reinterpret_cast<void **>(&audio)))) {
        fprintf(stderr, "the runtime is not registered in this prefix (run scripts/setup.sh)\n");
        return 1;
    }
    TTSMODEINFOA wanted = {}, found = {};
    strcpy(wanted.szMfgName, "Kelvanit");
    ITTSCentralA *central = NULL;
    find->Find(&wanted, NULL, &found);
    audio->AddRef(); // the reference the engine takes over
    find->Select(found.gModeID, &central, audio);
    find->Release();
    ILexPronounceA *lex = NULL;
    if (!central || FAILED(central->QueryInterface(IID_ILexPronounceA, reinterpret_cast<void **>(&lex)))) {
        fprintf(stderr, "no engine or no dictionary\n");
        return 1;
    }

    double start = Now();
    DWORD needed = 0;
    VOICEPARTOFSPEECH pos;
    lex->Get(CHARSET_TEXT, words[0].c_str(), 0, NULL, 0, &needed, &pos, NULL, 0, NULL);
    printf("%-44s %8.4f ms\n", "first Get (loads the file)", (Now() - start) * 1000);

    Figures hit, miss;
    std::uniform_int_distribution<size_t> pick(0, words.size() - 1);
    char buffer[600];
    for (int i = 0; i < 20000; ++i) {
        const std::string &word = words[pick(rng)];
        start = Now();
        HRESULT hr = lex->Get(CHARSET_TEXT, word.c_str(), 0, NULL, 0, &needed, &pos, NULL, 0, NULL);
        if (SUCCEEDED(hr))
            hr = lex->Get(CHARSET_TEXT, word.c_str(), 0, buffer, needed, &needed, &pos, NULL, 0, NULL);
        hit.Add((Now() - start) / 2);
        if (FAILED(hr)) {
            fprintf(stderr, "Get failed: 0x%08lX\n", static_cast<unsigned long>(hr));
            return 1;
        }
        std::string absent = word + "zz";
        start = Now();
        lex->Get(CHARSET_TEXT, absent.c_str(), 0, NULL, 0, &needed, &pos, NULL, 0, NULL);
        miss.Add(Now() - start);
    }
    hit.Print("Get of a stored word (per call)");
    miss.Print("Get of a missing word");

    Figures add, remove;
    for (int i = 0; i < 30; ++i) {
        std::string word = "bench" + std::to_string(i);
        start = Now();
        HRESULT hr = lex->Add(CHARSET_TEXT, word.c_str(), "benccs", VPS_UNKNOWN, NULL, 0);
        add.Add(Now() - start);
        start = Now();
        HRESULT hr2 = lex->Remove(word.c_str(), 0);
        remove.Add(Now() - start);
        if (FAILED(hr) || FAILED(hr2)) {
            fprintf(stderr, "Add/Remove failed: 0x%08lX 0x%08lX\n", static_cast<unsigned long>(hr),
                    static_cast<unsigned long>(hr2));
            return 1;
        }
    }
    add.Print("Add with its durable write");
    remove.Print("Remove with its durable write");

    // A text of Vorira's largest size, every word looked up; then the
    // caller's time in TextData with clipboard texts of 4 and 16 MB, which
    // Dalnoka hands over on its window's thread: all words of the
    // dictionary (each replaced), and none (each only looked up).
    const size_t sizes[] = {31000, 4u << 20, 16u << 20, 4u << 20};
    UserDictionary direct(path); // the dictionary's own part of it, without the engine's
    for (const size_t &size : sizes) {
        bool stored = &size != &sizes[3];
        std::string speech;
        while (speech.size() < size)
            speech += (stored ? words[pick(rng)] : words[pick(rng)] + "q") + (speech.size() % 7 ? " " : ". ");
        Figures textData, apply;
        for (int i = 0; i < (size > 100000 ? 5 : 10); ++i) {
            SDATA data = {const_cast<char *>(speech.c_str()), static_cast<DWORD>(speech.size() + 1)};
            start = Now();
            central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink);
            textData.Add(Now() - start);
            central->AudioReset();
            std::string applied;
            start = Now();
            direct.Apply(speech, false, ~static_cast<size_t>(0), &applied);
            apply.Add(Now() - start);
        }
        char what[96];
        snprintf(what, sizeof what, "TextData of %zu bytes (%zu words%s)", speech.size(),
                 static_cast<size_t>(std::count(speech.begin(), speech.end(), ' ') + 1), stored ? "" : ", none stored");
        textData.Print(what);
        apply.Print("  of it the dictionary's Apply alone");
    }

    // The caller's thread in TextData with a short text, as a reader hands
    // over a sentence at a time: with the dictionary unchanged, and right
    // after another process (here a dictionary object of its own on the same
    // file) stored a change, which the next text must already speak.
    const std::string sentence = "A " + words[1] + " hangja, " + words[2] + " és " + words[3] + ".";
    auto speak = [&]() {
        SDATA data = {const_cast<char *>(sentence.c_str()), static_cast<DWORD>(sentence.size() + 1)};
        double began = Now();
        central->TextData(CHARSET_TEXT, 0, data, NULL, IID_ITTSBufNotifySink);
        double took = Now() - began;
        central->AudioReset();
        return took;
    };
    Figures unchanged, changed, settled;
    for (int i = 0; i < 50; ++i)
        unchanged.Add(speak());
    unchanged.Print("TextData (caller), dictionary unchanged");
    UserDictionary other(path);
    for (int i = 0; i < 10; ++i) {
        if (FAILED(other.Add("valtozas" + std::to_string(i), "valtozas"))) {
            fprintf(stderr, "the other writer failed\n");
            return 1;
        }
        changed.Add(speak());
    }
    changed.Print("TextData (caller), just changed elsewhere");
    for (int i = 0; i < 5; ++i) {
        other.Remove("valtozas" + std::to_string(i), 0);
        Sleep(2000);
        settled.Add(speak());
    }
    settled.Print("TextData (caller), changed elsewhere 2 s ago");

    lex->Release();
    central->Release();
    while (audio->Release()) {
    }
    CoUninitialize();
    DeleteFileA(path.c_str());
    LargestFileMemory(path, rng);
    return 0;
}
