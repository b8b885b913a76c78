// The page's language choice: whatever order the resource's languages are enumerated in, the
// variant chosen is the same, and it is the rule's: the exact system language; else, among the
// variants of the same primary language and code page, the smallest sublanguage; else none
// (English is the caller's fallback). Input: the system language, then the resource's
// languages, two bytes each.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DLL/page/LanguageChoice.h"
#include "fuzz/FuzzCheck.h"

namespace {

// As the enumeration callback does it, with every lookup succeeding.
std::uint16_t Choose(std::uint16_t system, const std::vector<std::uint16_t>& languages) {
    const int codePage = CodePageForLanguage(system);
    std::uint16_t chosen = 0;
    for (std::uint16_t langid : languages) {
        const LanguageStep step = ConsiderLanguage(system, codePage, chosen, langid);
        if (step == LanguageStep::Pass) continue;
        chosen = langid;
        if (step == LanguageStep::TakeAndStop) break;
    }
    return chosen;
}

std::uint16_t Rule(std::uint16_t system, const std::vector<std::uint16_t>& languages) {
    if (std::find(languages.begin(), languages.end(), system) != languages.end()) return system;
    std::uint16_t best = 0;
    for (std::uint16_t langid : languages) {
        if ((langid & 0x3FF) != (system & 0x3FF) ||
            CodePageForLanguage(langid) != CodePageForLanguage(system))
            continue;
        if (best == 0 || (langid >> 10) < (best >> 10)) best = langid;
    }
    return best;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint16_t system = static_cast<std::uint16_t>(data[0] | data[1] << 8);
    // A system language always names a language (primary 0 is "neutral").
    if ((system & 0x3FF) == 0) return 0;
    std::vector<std::uint16_t> languages;
    for (std::size_t at = 2; at + 1 < size && languages.size() < 64; at += 2) {
        const std::uint16_t langid = static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
        // A resource exists once per language.
        if (std::find(languages.begin(), languages.end(), langid) == languages.end())
            languages.push_back(langid);
    }
    const std::uint16_t chosen = Choose(system, languages);
    FUZZ_CHECK(chosen == Rule(system, languages));
    std::vector<std::uint16_t> other(languages.rbegin(), languages.rend());
    FUZZ_CHECK(Choose(system, other) == chosen);
    std::sort(other.begin(), other.end());
    FUZZ_CHECK(Choose(system, other) == chosen);
    return 0;
}
