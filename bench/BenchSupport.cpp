#include "bench/BenchSupport.h"

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

double Seconds() {
    static const double tick = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return 1.0 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * tick;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

Figures Measure(int batch, int warmup, const std::function<double()>& library,
                const std::function<double()>& floor) {
    for (int i = 0; i < warmup; ++i) {
        library();
        floor();
    }
    std::vector<double> libraryRounds, floorRounds, ratios;
    for (int round = 0; round < Rounds; ++round) {
        double libraryTotal = 0, floorTotal = 0;
        for (int i = 0; i < batch; ++i) {
            if ((round * batch + i) % 2 == 0) {
                libraryTotal += library();
                floorTotal += floor();
            } else {
                floorTotal += floor();
                libraryTotal += library();
            }
        }
        libraryRounds.push_back(libraryTotal / batch);
        floorRounds.push_back(floorTotal / batch);
        if (floorTotal > 0) ratios.push_back(libraryTotal / floorTotal);
    }
    Figures figures{Median(libraryRounds), Median(floorRounds)};
    if (!ratios.empty()) {
        figures.lowest = *std::min_element(ratios.begin(), ratios.end());
        figures.highest = *std::max_element(ratios.begin(), ratios.end());
    }
    return figures;
}

double MedianOf(int count, const std::function<double()>& step) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) times.push_back(step());
    return Median(times);
}

std::string Format(double seconds) {
    char text[32];
    if (seconds < 1e-3)
        std::snprintf(text, sizeof text, "%7.1f us", seconds * 1e6);
    else if (seconds < 1)
        std::snprintf(text, sizeof text, "%7.2f ms", seconds * 1e3);
    else
        std::snprintf(text, sizeof text, "%7.3f s ", seconds);
    return text;
}

std::vector<Row> Table;
std::vector<std::string> Notes;
std::vector<std::string> Profile;
std::vector<std::string> Findings;

void Note(std::vector<std::string>& list, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    list.push_back(text);
}

void Skip(const char* name, double target, const char* why) {
    Table.push_back({name, {}, target, false});
    Note(Findings, "%s: not measured, %s", name, why);
}

int PrintReport() {
    std::printf("%-22s %11s %11s %7s %8s  %s\n", "operation", "library", "floor", "ratio", "target",
                "round ratios");
    int measured = 0;
    for (const Row& row : Table) {
        if (!row.measured) {
            std::printf("%-22s %11s %11s %7s  <= %.2f\n", row.name.c_str(), "-", "-", "-",
                        row.target);
            continue;
        }
        ++measured;
        const Figures& f = row.figures;
        const double ratio = f.floor > 0 ? f.library / f.floor : 0;
        std::printf("%-22s %11s %11s %7.3f  <= %.2f  %.3f-%.3f%s\n", row.name.c_str(),
                    Format(f.library).c_str(), Format(f.floor).c_str(), ratio, row.target, f.lowest,
                    f.highest, ratio > row.target ? "  above" : "");
    }
    std::printf("\n");
    for (const Row& row : Table) {
        if (row.measured && row.figures.floor > 0)
            std::printf("ratio %s: %.3f\n", row.name.c_str(),
                        row.figures.library / row.figures.floor);
    }
    std::printf("\nHow each floor is made:\n");
    for (const std::string& line : Notes) std::printf("  %s\n", line.c_str());
    if (!Profile.empty()) {
        std::printf("\nSub-steps (medians, taken after the rounds):\n");
        for (const std::string& line : Profile) std::printf("  %s\n", line.c_str());
    }
    if (!Findings.empty()) {
        std::printf("\nLibrary results to look at:\n");
        for (const std::string& line : Findings) std::printf("  %s\n", line.c_str());
    }
    return measured;
}
