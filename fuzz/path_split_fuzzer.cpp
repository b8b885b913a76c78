// The path split: the four pieces follow one another and add up to the path; the drive is a
// letter and a colon or nothing; the folder part ends at a separator; the name holds none and
// the extension starts with the last dot; the second byte of a double-byte character is never
// taken for a separator or a dot. Input: one byte choosing the lead-byte rule, then the path.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Installer/DLL/PathSplit.h"
#include "fuzz/FuzzCheck.h"

namespace {

// Lead bytes as in code page 932, and a rule that makes every high byte one.
bool Cp932Lead(unsigned char c, const void*) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool HighLead(unsigned char c, const void*) { return c >= 0x80; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const LeadByteTest rules[] = {nullptr, Cp932Lead, HighLead};
    const LeadByteTest lead = rules[data[0] % 3];
    const std::vector<char> path(data + 1, data + size);
    const std::size_t length = path.size();
    const PathParts p = SplitPathText(path.data(), length, lead, nullptr);
    FUZZ_CHECK(p.driveLength + p.folderLength + p.nameLength + p.extensionLength == length);
    FUZZ_CHECK(p.driveLength == 0 || (p.driveLength == 2 && path[1] == ':'));
    FUZZ_CHECK(p.driveLength == 2 || length < 2 || path[1] != ':');

    // Which bytes are the second byte of a double-byte character, scanning after the drive.
    std::vector<bool> trail(length, false);
    for (std::size_t i = p.driveLength; i < length; ++i) {
        if (lead && lead(static_cast<unsigned char>(path[i]), nullptr) && i + 1 < length) {
            trail[i + 1] = true;
            ++i;
        }
    }
    auto separator = [&](std::size_t i) {
        return !trail[i] && (path[i] == '\\' || path[i] == '/');
    };
    auto dot = [&](std::size_t i) { return !trail[i] && path[i] == '.'; };

    const std::size_t folderEnd = p.driveLength + p.folderLength;
    const std::size_t nameEnd = folderEnd + p.nameLength;
    if (p.folderLength > 0) FUZZ_CHECK(separator(folderEnd - 1));
    for (std::size_t i = folderEnd; i < length; ++i) FUZZ_CHECK(!separator(i));
    if (p.extensionLength > 0) FUZZ_CHECK(dot(nameEnd));
    for (std::size_t i = nameEnd + 1; i < length; ++i) FUZZ_CHECK(!dot(i));
    if (p.extensionLength == 0)
        for (std::size_t i = folderEnd; i < length; ++i) FUZZ_CHECK(!dot(i));
    return 0;
}
