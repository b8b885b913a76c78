// KOVALTIX.exe: a small host of the camera library. Command-line mode for scripts, window mode
// for people.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "DLL/props/KOVALTIX.h"
#include "Host/Groups.h"
#include "Host/PageWindow.h"

namespace {

enum ExitStatus { ExitOk = 0, CameraRefused = 1, ExitUsage = 2 };

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: KOVALTIX list\n"
                 "       KOVALTIX get <group>\n"
                 "       KOVALTIX set <group> <value>...\n"
                 "       KOVALTIX reset <group>\n"
                 "       KOVALTIX window [--snapshot <file.png>]\n"
                 "groups (values in this order):\n");
    for (int i = 0; i < ControlGroupCount(); ++i) {
        const ControlGroup& group = ControlGroups()[i];
        std::fprintf(stderr, "  %-13s", group.name);
        for (int r = 0; r < group.count; ++r) std::fprintf(stderr, " %s", group.records[r]);
        std::fprintf(stderr, "\n");
    }
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

int List(KOVALTIX& camera, int argc, char**) {
    if (argc != 0) {
        PrintUsage();
        return ExitUsage;
    }
    PrintHeader();
    for (int i = 0; i < ControlGroupCount(); ++i) PrintGroup(camera, ControlGroups()[i]);
    return ExitOk;
}

int Get(KOVALTIX& camera, int argc, char** argv) {
    const ControlGroup* group = GroupArgument(argc, argv, 1, 1);
    if (!group) return ExitUsage;
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
    } else if (std::strcmp(command, "window") == 0) {
        run = Window;
    } else {
        if (std::strcmp(command, "help") != 0 && std::strcmp(command, "--help") != 0)
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
