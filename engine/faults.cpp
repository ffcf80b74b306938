// The fault switches' table: parsed from the configuration, installed for the
// process, and consulted at the entry of every method the programs call.
#include "faults.h"

#include <stdlib.h>
#include <string.h>

#include "journal.h"

namespace {

const char *const kMethodNames[kFaultMethodCount] = {
    "Enum.Create",        "Enum.Next",        "Enum.Find",   "Enum.Select", "Central.TextData",
    "Central.AudioReset", "Central.AboutDlg", "Lexicon.Get", "Lexicon.Add", "Lexicon.Remove",
    "Speech.Start",
};

struct FaultState {
    FaultRule rule;
    unsigned long calls;
    unsigned long long draws; // the generator's state
};

// Calls come from the clients' threads; a static lock needs no set-up.
SRWLOCK g_lock = SRWLOCK_INIT;
FaultState g_states[kFaultMethodCount];

bool SameRule(const FaultRule &a, const FaultRule &b) {
    return a.set == b.set && a.hr == b.hr && a.nth == b.nth && a.times == b.times &&
           a.probability == b.probability && a.seed == b.seed && a.delayMs == b.delayMs;
}

// splitmix64: small, and the same numbers on every build and platform.
unsigned long long NextDraw(unsigned long long *state) {
    unsigned long long z = (*state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Each method draws its own sequence, so that one seed on several lines does
// not make them fail together.
unsigned long long FirstState(FaultMethod method, unsigned long long seed) {
    return seed ^ (0xD1B54A32D192ED03ULL * (static_cast<unsigned long long>(method) + 1));
}

// "0.25", ".5", "1": read by hand, as the process's locale may want a comma.
double Probability(const char *text) {
    double value = 0;
    while (*text >= '0' && *text <= '9')
        value = value * 10 + (*text++ - '0');
    if (*text == '.') {
        double scale = 0.1;
        for (++text; *text >= '0' && *text <= '9'; ++text, scale /= 10)
            value += (*text - '0') * scale;
    }
    return value > 1 ? 1 : value;
}

} // namespace

void ParseFaultLine(const std::string &key, const std::string &value, FaultTable *table) {
    int method = 0;
    while (method < kFaultMethodCount && lstrcmpiA(key.c_str(), kMethodNames[method]) != 0)
        ++method;
    if (method == kFaultMethodCount)
        return;
    FaultRule rule;
    rule.set = true;
    bool hrGiven = false;
    size_t pos = 0;
    while (pos < value.size()) {
        size_t end = value.find_first_of(" \t", pos);
        if (end == std::string::npos)
            end = value.size();
        std::string word = value.substr(pos, end - pos);
        pos = end + 1;
        size_t eq = word.find('=');
        if (eq == std::string::npos)
            continue;
        std::string name = word.substr(0, eq);
        const char *number = word.c_str() + eq + 1;
        if (!lstrcmpiA(name.c_str(), "hr")) {
            rule.hr = static_cast<HRESULT>(strtoul(number, NULL, 0));
            hrGiven = true;
        } else if (!lstrcmpiA(name.c_str(), "nth")) {
            rule.nth = strtoul(number, NULL, 0);
        } else if (!lstrcmpiA(name.c_str(), "times")) {
            rule.times = strtoul(number, NULL, 0);
        } else if (!lstrcmpiA(name.c_str(), "p")) {
            rule.probability = Probability(number);
        } else if (!lstrcmpiA(name.c_str(), "seed")) {
            rule.seed = strtoull(number, NULL, 0);
        } else if (!lstrcmpiA(name.c_str(), "delay")) {
            rule.delayMs = strtoul(number, NULL, 0);
        }
    }
    // A switch that says nothing else fails; one with a delay only slows.
    if (!hrGiven)
        rule.hr = rule.delayMs ? S_OK : E_FAIL;
    // Without nth every call is in range, however many.
    if (rule.nth == 0)
        rule.times = 0;
    table->rules[method] = rule;
}

void InstallFaults(const FaultTable &table) {
    AcquireSRWLockExclusive(&g_lock);
    for (int method = 0; method < kFaultMethodCount; ++method) {
        FaultState &state = g_states[method];
        if (SameRule(state.rule, table.rules[method]))
            continue;
        state.rule = table.rules[method];
        state.calls = 0;
        state.draws = FirstState(static_cast<FaultMethod>(method), state.rule.seed);
    }
    ReleaseSRWLockExclusive(&g_lock);
}

HRESULT InjectFault(FaultMethod method) {
    AcquireSRWLockExclusive(&g_lock);
    FaultState &state = g_states[method];
    FaultRule rule = state.rule;
    unsigned long call = 0;
    bool hit = false;
    if (rule.set) {
        call = ++state.calls;
        hit = call >= rule.nth && (rule.times == 0 || call - rule.nth < rule.times);
        // Every call draws, hit or not, so the k-th call always gets the k-th number.
        if (rule.probability < 1)
            hit = (NextDraw(&state.draws) >> 11) * (1.0 / 9007199254740992.0) < rule.probability && hit;
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (!hit)
        return S_OK;
    JournalLine("Fault.Injected")
        .Word("method", kMethodNames[method])
        .Num("call", call)
        .Num("delay", rule.delayMs)
        .Write(rule.hr);
    if (rule.delayMs)
        Sleep(rule.delayMs);
    return rule.hr;
}
