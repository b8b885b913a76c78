#include "Host/SettingsFile.h"

#include <cstdio>
#include <cstring>

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Names are matched as the command line matches group names: letter case aside.
bool SameName(const char* name, const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (name[i] == '\0' || Lower(name[i]) != Lower(text[i])) return false;
    }
    return name[length] == '\0';
}

// Text from the file, for a message: printable ASCII only, and not much of it.
std::string Shown(const char* text, std::size_t length) {
    const std::size_t shownLength = 40;
    std::string shown;
    for (std::size_t i = 0; i < length && i < shownLength; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        shown += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    if (length > shownLength) shown += "...";
    return shown;
}

struct Span {
    const char* text;
    std::size_t length;
};

Span Trimmed(const char* text, std::size_t length) {
    while (length > 0 && Blank(*text)) {
        ++text;
        --length;
    }
    while (length > 0 && Blank(text[length - 1])) --length;
    return {text, length};
}

// One line without its line end; `setOn` holds the line that named each control, 0 if none.
void ParseLine(const char* text, std::size_t length, int line, const ControlInfo* controls,
               int count, std::vector<int>& setOn, std::vector<FileSetting>* settings,
               std::vector<FileProblem>* problems) {
    if (length > MaxSettingsLine) {
        problems->push_back(
            {line, "longer than " + std::to_string(MaxSettingsLine) + " characters"});
        return;
    }
    const char* comment = static_cast<const char*>(std::memchr(text, '#', length));
    const Span content = Trimmed(text, comment ? static_cast<std::size_t>(comment - text) : length);
    if (content.length == 0) return;

    const char* equals = static_cast<const char*>(std::memchr(content.text, '=', content.length));
    if (!equals) {
        problems->push_back({line, "expected \"Name = value\", found \"" +
                                       Shown(content.text, content.length) + "\""});
        return;
    }
    const Span name = Trimmed(content.text, static_cast<std::size_t>(equals - content.text));
    const Span number = Trimmed(equals + 1, content.length - (equals + 1 - content.text));
    if (name.length == 0) {
        problems->push_back({line, "no control name before \"=\""});
        return;
    }
    int control = 0;
    while (control < count && !SameName(controls[control].name, name.text, name.length)) ++control;
    if (control == count) {
        problems->push_back({line, "unknown control \"" + Shown(name.text, name.length) +
                                       "\" (the names are those \"KOVALTIX list\" shows)"});
        return;
    }
    const ControlInfo& info = controls[control];
    long value = 0;
    if (!ParseWholeNumber(number.text, number.length, &value)) {
        problems->push_back({line, "\"" + Shown(number.text, number.length) +
                                       "\" is not a whole 32-bit number (for " + info.name + ")"});
        return;
    }
    if (setOn[control] != 0) {
        problems->push_back({line, std::string(info.name) + " is already set on line " +
                                       std::to_string(setOn[control])});
        return;
    }
    setOn[control] = line;
    if (info.offered && (value < info.min || value > info.max)) {
        problems->push_back({line, std::string(info.name) + " = " + std::to_string(value) +
                                       " is outside its range " + std::to_string(info.min) + ".." +
                                       std::to_string(info.max)});
        return;
    }
    settings->push_back({control, value, line});
}

}  // namespace

bool ParseWholeNumber(const char* text, std::size_t length, long* value) {
    std::size_t at = 0;
    bool negative = false;
    if (at < length && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        ++at;
    }
    if (at == length) return false;
    long long magnitude = 0;
    for (; at < length; ++at) {
        if (text[at] < '0' || text[at] > '9') return false;
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > 2147483648LL) return false;
    }
    if (!negative && magnitude > 2147483647LL) return false;
    *value = static_cast<long>(negative ? -magnitude : magnitude);
    return true;
}

void ParseSettings(const char* text, std::size_t length, const ControlInfo* controls, int count,
                   std::vector<FileSetting>* settings, std::vector<FileProblem>* problems) {
    settings->clear();
    problems->clear();
    if (length > MaxSettingsFile) {
        problems->push_back({0, "larger than " + std::to_string(MaxSettingsFile / 1024) +
                                    " KB: not a settings file"});
        return;
    }
    std::size_t at = 0;
    // Some editors start UTF-8 text with a byte-order mark.
    if (length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) at = 3;
    std::vector<int> setOn(count > 0 ? count : 0, 0);
    for (int line = 1; at < length; ++line) {
        const char* end = static_cast<const char*>(std::memchr(text + at, '\n', length - at));
        const std::size_t next = end ? static_cast<std::size_t>(end - text) + 1 : length;
        std::size_t stop = end ? static_cast<std::size_t>(end - text) : length;
        if (stop > at && text[stop - 1] == '\r') --stop;
        ParseLine(text + at, stop - at, line, controls, count, setOn, settings, problems);
        if (problems->size() >= MaxSettingsProblems) {
            problems->push_back({0, "too many problems: the lines after line " +
                                        std::to_string(line) + " were not checked"});
            return;
        }
        at = next;
    }
}

std::string FormatSettings(const ControlInfo* controls, int count) {
    std::string text =
        "# Camera settings of \"KOVALTIX save\", read back by \"KOVALTIX load <file>\".\n"
        "# One control per line, \"Name = value\", by the names \"KOVALTIX list\" shows; text\n"
        "# after \"#\" is a comment. A control the file leaves out keeps its value on load.\n"
        "# While a group's automatic control (AWBEx, AECEx, AGCEx) is on, the camera takes\n"
        "# that group's other controls at their defaults, whatever the file says.\n";
    const char* group = nullptr;
    for (int i = 0; i < count; ++i) {
        const ControlInfo& c = controls[i];
        if (!group || std::strcmp(group, c.group) != 0) {
            group = c.group;
            text += "\n# ";
            text += group;
            text += "\n";
        }
        char line[160];
        if (c.offered) {
            std::snprintf(line, sizeof line, "%-11s = %-5ld # %ld..%ld, default %ld\n", c.name,
                          c.value, c.min, c.max, c.def);
        } else {
            std::snprintf(line, sizeof line, "# %s: not offered by this camera\n", c.name);
        }
        text += line;
    }
    return text;
}
