#include "Host/SettingsCommands.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Common/Owners.h"
#include "Host/ExitStatus.h"
#include "Host/Groups.h"
#include "Host/SettingsFile.h"

namespace {

// Every control in table order (the groups' records one after another); false when none is
// offered: without a camera the library reports every record as zeros.
bool ReadControls(KOVALTIX& camera, std::vector<ControlInfo>* controls) {
    controls->clear();
    bool anyOffered = false;
    for (int g = 0; g < ControlGroupCount(); ++g) {
        const ControlGroup& group = ControlGroups()[g];
        PROPDATA records[4] = {};
        group.get(camera, records);
        for (int r = 0; r < group.count; ++r) {
            const PROPDATA& p = records[r];
            controls->push_back(
                {group.name, group.records[r], p.Min, p.Max, p.Value, p.Def, p.Enb != 0});
            anyOffered = anyOffered || p.Enb != 0;
        }
    }
    return anyOffered;
}

void SayNoCamera(const char* what) {
    std::fprintf(stderr,
                 "No camera: the library found none (or the camera's driver is not installed), so "
                 "there are no settings to %s.\n",
                 what);
}

std::string SystemError(DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND) return "no such file";
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY) return "no such folder";
    if (error == ERROR_ACCESS_DENIED) return "access denied";
    return "Windows error " + std::to_string(error);
}

// The text goes to a new file beside the target, which then takes the target's place: a write
// that fails half-way leaves an earlier file of that name as it was.
bool WriteWholeFile(const char* path, const std::string& text, DWORD* error) {
    char full[MAX_PATH];
    char* name = nullptr;
    const DWORD length = GetFullPathNameA(path, MAX_PATH, full, &name);
    if (length == 0 || length >= MAX_PATH || !name) {
        *error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    const std::string folder(full, name);
    char temporary[MAX_PATH];
    if (!GetTempFileNameA(folder.c_str(), "kvx", 0, temporary)) {
        *error = GetLastError();
        return false;
    }
    bool written = false;
    {
        FileHandle file(CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD done = 0;
        written =
            file &&
            WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr) &&
            done == text.size() && FlushFileBuffers(file.Get());
        if (!written) *error = GetLastError();
    }
    if (written &&
        !MoveFileExA(temporary, full, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = GetLastError();
        written = false;
    }
    if (!written) DeleteFileA(temporary);
    return written;
}

enum class ReadResult { Read, TooLarge, Failed };

ReadResult ReadWholeFile(const char* path, std::string* text, DWORD* error) {
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.Get(), &size)) {
        *error = GetLastError();
        return ReadResult::Failed;
    }
    if (size.QuadPart > static_cast<LONGLONG>(MaxSettingsFile)) return ReadResult::TooLarge;
    text->assign(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t got = 0;
    while (got < text->size()) {
        DWORD chunk = 0;
        if (!ReadFile(file.Get(), &(*text)[got], static_cast<DWORD>(text->size() - got), &chunk,
                      nullptr)) {
            *error = GetLastError();
            return ReadResult::Failed;
        }
        if (chunk == 0) break;  // the file shrank meanwhile
        got += chunk;
    }
    text->resize(got);
    return ReadResult::Read;
}

// Windows line ends, for the editors people open the file with; load takes either.
std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string Counted(int count, const char* thing) {
    return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

std::string RecordList(const ControlGroup& group) {
    std::string list;
    for (int r = 0; r < group.count; ++r) list += std::string(r ? ", " : "") + group.records[r];
    return list;
}

}  // namespace

int SaveSettings(KOVALTIX& camera, const char* path) {
    std::vector<ControlInfo> controls;
    if (!ReadControls(camera, &controls)) {
        SayNoCamera("save");
        return ExitNoCamera;
    }
    const std::string text =
        WithCrLf(FormatSettings(controls.data(), static_cast<int>(controls.size())));
    DWORD error = 0;
    if (!WriteWholeFile(path, text, &error)) {
        std::fprintf(stderr, "Cannot write \"%s\": %s. Nothing was saved.\n", path,
                     SystemError(error).c_str());
        return ExitFileError;
    }
    int offered = 0;
    for (const ControlInfo& c : controls) offered += c.offered ? 1 : 0;
    std::printf("Saved %s to \"%s\".\n", Counted(offered, "control").c_str(), path);
    return ExitOk;
}

int LoadSettings(KOVALTIX& camera, const char* path) {
    std::vector<ControlInfo> controls;
    if (!ReadControls(camera, &controls)) {
        SayNoCamera("load into");
        return ExitNoCamera;
    }
    std::string text;
    DWORD error = 0;
    const ReadResult read = ReadWholeFile(path, &text, &error);
    if (read == ReadResult::Failed) {
        std::fprintf(stderr, "Cannot read \"%s\": %s. Nothing was applied.\n", path,
                     SystemError(error).c_str());
        return ExitFileError;
    }
    std::vector<FileSetting> settings;
    std::vector<FileProblem> problems;
    if (read == ReadResult::TooLarge) {
        problems.push_back({0, "larger than " + std::to_string(MaxSettingsFile / 1024) +
                                   " KB: not a settings file"});
    } else {
        ParseSettings(text.data(), text.size(), controls.data(), static_cast<int>(controls.size()),
                      &settings, &problems);
    }
    if (!problems.empty()) {
        for (const FileProblem& problem : problems) {
            if (problem.line > 0) {
                std::fprintf(stderr, "Refused \"%s\", line %d: %s.\n", path, problem.line,
                             problem.text.c_str());
            } else {
                std::fprintf(stderr, "Refused \"%s\": %s.\n", path, problem.text.c_str());
            }
        }
        std::fprintf(stderr, "Nothing was applied.\n");
        return ExitBadSettings;
    }

    // The file's value for each control it names, by table index; the rest keep theirs.
    std::vector<const FileSetting*> named(controls.size(), nullptr);
    for (const FileSetting& s : settings) named[s.control] = &s;
    int applied = 0, groups = 0;
    bool refused = false;
    int first = 0;
    for (int g = 0; g < ControlGroupCount(); first += ControlGroups()[g].count, ++g) {
        const ControlGroup& group = ControlGroups()[g];
        long values[4] = {};
        int fromFile = 0;
        for (int r = 0; r < group.count; ++r) {
            const ControlInfo& c = controls[first + r];
            const FileSetting* s = named[first + r];
            values[r] = c.value;
            // A group of several controls leads with its automatic mode. One the camera does
            // not offer holds only a leftover Value: the group is manual, as on the page.
            if (r == 0 && group.count > 1 && !c.offered) values[r] = 0;
            if (!s) continue;
            if (!c.offered) {
                std::printf("%s (line %d) is not offered by this camera: left out.\n", c.name,
                            s->line);
                continue;
            }
            values[r] = s->value;
            ++fromFile;
        }
        if (fromFile == 0) continue;
        ++groups;
        applied += fromFile;
        if (!group.set(camera, values)) {
            std::fprintf(stderr, "The camera did not take every value of %s (%s).\n", group.name,
                         RecordList(group).c_str());
            refused = true;
            continue;
        }
        // The class sets a group's manual controls to their defaults while its automatic one
        // is on: say so where that overrode the file.
        PROPDATA now[4] = {};
        group.get(camera, now);
        for (int r = 0; r < group.count; ++r) {
            const FileSetting* s = named[first + r];
            if (s && controls[first + r].offered && now[r].Value != s->value) {
                std::printf(
                    "%s is %ld, not %ld as line %d says: its group's automatic control "
                    "is on.\n",
                    group.records[r], now[r].Value, s->value, s->line);
            }
        }
    }
    if (refused) return CameraRefused;
    std::printf("Loaded %s of %s from \"%s\".\n", Counted(applied, "control").c_str(),
                Counted(groups, "group").c_str(), path);
    return ExitOk;
}
