// KOVALTIX.exe: a small host of the camera library. Command-line mode for scripts, window mode
// for people.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "DLL/props/KOVALTIX.h"
#include "Host/ExitStatus.h"
#include "Host/Groups.h"
#include "Host/PageWindow.h"
#include "Host/SettingsCommands.h"

namespace {

// The whole help, to stdout when asked for; the same to stderr after a usage error.
void PrintUsage(std::FILE* out = stderr) {
    std::fprintf(
        out,
        "usage: KOVALTIX list [--json]          every control: min, max, value, default, "
        "enabled\n"
        "       KOVALTIX get <group> [--json]   one group's controls\n"
        "       KOVALTIX set <group> <value>... set a group (values in the order below)\n"
        "       KOVALTIX reset <group>          set a group to its defaults\n"
        "       KOVALTIX save <file>            write every control's value to a text "
        "file\n"
        "       KOVALTIX load <file>            check the whole file, then set the "
        "groups it names\n"
        "       KOVALTIX window [--snapshot <file.png>]   the camera's page (the default)\n"
        "       KOVALTIX help | /?              this text\n"
        "groups (values in this order):\n");
    for (int i = 0; i < ControlGroupCount(); ++i) {
        const ControlGroup& group = ControlGroups()[i];
        std::fprintf(out, "  %-13s", group.name);
        for (int r = 0; r < group.count; ++r) std::fprintf(out, " %s", group.records[r]);
        std::fprintf(out, "\n");
    }
    std::fprintf(out,
                 "settings file: one control per line, \"Name = value\" (names as list shows "
                 "them),\n"
                 "  \"#\" starts a comment; a control the file leaves out keeps its value.\n"
                 "exit status:\n"
                 "  0  done\n"
                 "  1  the camera did not take every value of a group (set, reset, load)\n"
                 "  2  the command line was not understood\n"
                 "  3  window: the page could not be shown, or its picture not saved\n"
                 "  4  save, load: no camera (every control reads as zero)\n"
                 "  5  load: the file was refused (a line malformed, unknown or out of range); "
                 "nothing applied\n"
                 "  6  save, load: the file could not be written or read; nothing saved or "
                 "applied\n");
}

void PrintHeader() {
    std::printf("%-13s %-12s %6s %6s %6s %6s %4s\n", "Group", "Control", "Min", "Max", "Value",
                "Def", "Enb");
}

void PrintGroup(KOVALTIX& camera, const ControlGroup& group) {
    PROPDATA records[4] = {};
    group.get(camera, records);
    for (int r = 0; r < group.count; ++r) {
        const PROPDATA& p = records[r];
        std::printf("%-13s %-12s %6ld %6ld %6ld %6ld %4ld\n", group.name, group.records[r], p.Min,
                    p.Max, p.Value, p.Def, p.Enb);
    }
}

// One JSON array of the groups' controls; the names need no escaping.
void PrintJson(KOVALTIX& camera, const ControlGroup* only) {
    const char* separator = "";
    std::printf("[");
    for (int i = 0; i < ControlGroupCount(); ++i) {
        const ControlGroup& group = ControlGroups()[i];
        if (only && only != &group) continue;
        PROPDATA records[4] = {};
        group.get(camera, records);
        for (int r = 0; r < group.count; ++r) {
            const PROPDATA& p = records[r];
            std::printf(
                "%s\n  {\"group\": \"%s\", \"control\": \"%s\", \"min\": %ld, \"max\": %ld, "
                "\"value\": %ld, \"default\": %ld, \"enabled\": %s}",
                separator, group.name, group.records[r], p.Min, p.Max, p.Value, p.Def,
                p.Enb ? "true" : "false");
            separator = ",";
        }
    }
    std::printf("\n]\n");
}

// Takes "--json" out of the arguments; true if it was there.
bool TakeJsonOption(int* argc, char** argv) {
    int kept = 0;
    bool json = false;
    for (int i = 0; i < *argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    *argc = kept;
    return json;
}

// The group the first argument names, when the arguments are `least` to `most` in number.
const ControlGroup* GroupArgument(int argc, char** argv, int least, int most) {
    if (argc < least || argc > most) {
        PrintUsage();
        return nullptr;
    }
    const ControlGroup* group = FindControlGroup(argv[0]);
    if (!group) {
        std::fprintf(stderr, "Unknown group \"%s\".\n", argv[0]);
        PrintUsage();
    }
    return group;
}

int List(KOVALTIX& camera, int argc, char** argv) {
    const bool json = TakeJsonOption(&argc, argv);
    if (argc != 0) {
        PrintUsage();
        return ExitUsage;
    }
    if (json) {
        PrintJson(camera, nullptr);
        return ExitOk;
    }
    PrintHeader();
    for (int i = 0; i < ControlGroupCount(); ++i) PrintGroup(camera, ControlGroups()[i]);
    return ExitOk;
}

int Get(KOVALTIX& camera, int argc, char** argv) {
    const bool json = TakeJsonOption(&argc, argv);
    const ControlGroup* group = GroupArgument(argc, argv, 1, 1);
    if (!group) return ExitUsage;
    if (json) {
        PrintJson(camera, group);
        return ExitOk;
    }
    PrintHeader();
    PrintGroup(camera, *group);
    return ExitOk;
}

int Set(KOVALTIX& camera, int argc, char** argv) {
    const ControlGroup* group = GroupArgument(argc, argv, 1, argc);
    if (!group) return ExitUsage;
    if (argc - 1 != group->count) {
        std::fprintf(stderr, "%s takes %d value(s):", group->name, group->count);
        for (int r = 0; r < group->count; ++r) std::fprintf(stderr, " %s", group->records[r]);
        std::fprintf(stderr, "\n");
        return ExitUsage;
    }
    long values[4] = {};
    for (int i = 0; i < group->count; ++i) {
        if (!ParseLong(argv[1 + i], &values[i])) {
            std::fprintf(stderr, "\"%s\" is not a whole 32-bit number (for %s).\n", argv[1 + i],
                         group->records[i]);
            return ExitUsage;
        }
    }
    if (!group->set(camera, values)) {
        std::fprintf(stderr, "The camera did not take every value of %s.\n", group->name);
        return CameraRefused;
    }
    return ExitOk;
}

int Reset(KOVALTIX& camera, int argc, char** argv) {
    const ControlGroup* group = GroupArgument(argc, argv, 1, 1);
    if (!group) return ExitUsage;
    if (!group->reset(camera)) {
        std::fprintf(stderr, "The camera did not take every default of %s.\n", group->name);
        return CameraRefused;
    }
    return ExitOk;
}

// The one argument of save and load: a file name.
const char* FileArgument(int argc, char** argv) {
    if (argc != 1 || argv[0][0] == '\0') {
        PrintUsage();
        return nullptr;
    }
    return argv[0];
}

int Save(KOVALTIX& camera, int argc, char** argv) {
    const char* path = FileArgument(argc, argv);
    return path ? SaveSettings(camera, path) : ExitUsage;
}

int Load(KOVALTIX& camera, int argc, char** argv) {
    const char* path = FileArgument(argc, argv);
    return path ? LoadSettings(camera, path) : ExitUsage;
}

int Window(KOVALTIX& camera, int argc, char** argv) {
    const char* snapshot = nullptr;
    if (argc == 2 && std::strcmp(argv[0], "--snapshot") == 0 && argv[1][0] != '\0') {
        snapshot = argv[1];
    } else if (argc != 0) {
        PrintUsage();
        return ExitUsage;
    }
    return RunPageWindow(camera, snapshot);
}

}  // namespace

int main(int argc, char** argv) {
    const char* command = argc >= 2 ? argv[1] : "window";
    int (*run)(KOVALTIX&, int, char**) = nullptr;
    if (std::strcmp(command, "list") == 0) {
        run = List;
    } else if (std::strcmp(command, "get") == 0) {
        run = Get;
    } else if (std::strcmp(command, "set") == 0) {
        run = Set;
    } else if (std::strcmp(command, "reset") == 0) {
        run = Reset;
    } else if (std::strcmp(command, "save") == 0) {
        run = Save;
    } else if (std::strcmp(command, "load") == 0) {
        run = Load;
    } else if (std::strcmp(command, "window") == 0) {
        run = Window;
    } else if (std::strcmp(command, "help") == 0 || std::strcmp(command, "--help") == 0 ||
               std::strcmp(command, "/?") == 0 || std::strcmp(command, "-?") == 0) {
        PrintUsage(stdout);
        return ExitOk;
    } else {
        std::fprintf(stderr, "Unknown command \"%s\".\n", command);
        PrintUsage();
        return ExitUsage;
    }
    KOVALTIX* camera = new KOVALTIX;
    const int status = run(*camera, argc > 2 ? argc - 2 : 0, argc > 2 ? argv + 2 : argv + argc);
    std::fflush(stdout);
    delete camera;
    return status;
}
