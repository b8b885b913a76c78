// The settings file: any bytes are either refused with at least one problem, or every setting
// names a known control once, in line order, within its range where the control is offered;
// what FormatSettings writes of the accepted values reads back as the same values, without a
// problem; a whole number is taken exactly when it is an optional sign and decimal digits
// within 32 bits. Input: the file's text.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Host/SettingsFile.h"
#include "fuzz/FuzzCheck.h"

namespace {

// The development camera's controls; green is not offered.
const ControlInfo Camera[] = {
    {"WhiteBalance", "AWBEx", 0, 1, 1, 1, true},
    {"WhiteBalance", "WBRedEx", 0, 255, 127, 127, true},
    {"WhiteBalance", "WBGreenEx", 0, 255, 127, 127, false},
    {"WhiteBalance", "WBBlueEx", 0, 255, 127, 127, true},
    {"Exposure", "AECEx", 0, 1, 1, 1, true},
    {"Exposure", "ExposureEx", 1, 500, 255, 255, true},
    {"Gain", "AGCEx", 0, 1, 1, 1, true},
    {"Gain", "GainEx", -64, 127, 63, 63, true},
    {"PowerLine", "PowerLineEx", 0, 2, 2, 2, true},
    {"Flip", "FlipEx", 0, 1, 0, 0, true},
};
const int Count = static_cast<int>(sizeof Camera / sizeof Camera[0]);

// The number rule, told another way: the C library's conversion of the same characters.
bool ReferenceNumber(const std::string& text, long long* value) {
    std::size_t at = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (at == text.size()) return false;
    for (std::size_t i = at; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    errno = 0;
    *value = std::strtoll(text.c_str(), nullptr, 10);
    return errno != ERANGE && *value >= -2147483648LL && *value <= 2147483647LL;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);

    // The first line, as a number on its own.
    std::size_t end = 0;
    while (end < size && end < 40 && text[end] != '\n') ++end;
    long parsed = 0;
    long long reference = 0;
    const bool taken = ParseWholeNumber(text, end, &parsed);
    FUZZ_CHECK(taken == ReferenceNumber(std::string(text, end), &reference));
    if (taken) FUZZ_CHECK(parsed == reference);

    std::vector<FileSetting> settings;
    std::vector<FileProblem> problems;
    ParseSettings(text, size, Camera, Count, &settings, &problems);
    FUZZ_CHECK(problems.size() <= MaxSettingsProblems + 1);
    if (!problems.empty()) return 0;

    std::vector<bool> seen(Count, false);
    int lastLine = 0;
    ControlInfo loaded[Count];
    for (int i = 0; i < Count; ++i) loaded[i] = Camera[i];
    for (const FileSetting& s : settings) {
        FUZZ_CHECK(s.control >= 0 && s.control < Count);
        FUZZ_CHECK(!seen[s.control]);
        seen[s.control] = true;
        FUZZ_CHECK(s.line > lastLine);
        lastLine = s.line;
        const ControlInfo& c = Camera[s.control];
        if (c.offered) FUZZ_CHECK(s.value >= c.min && s.value <= c.max);
        loaded[s.control].value = s.value;
    }

    const std::string written = FormatSettings(loaded, Count);
    std::vector<FileSetting> again;
    ParseSettings(written.data(), written.size(), Camera, Count, &again, &problems);
    FUZZ_CHECK(problems.empty());
    int offered = 0;
    for (const ControlInfo& c : Camera) offered += c.offered ? 1 : 0;
    FUZZ_CHECK(static_cast<int>(again.size()) == offered);
    for (const FileSetting& s : again) {
        FUZZ_CHECK(Camera[s.control].offered);
        FUZZ_CHECK(s.value == loaded[s.control].value);
    }
    return 0;
}
