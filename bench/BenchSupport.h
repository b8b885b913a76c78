#pragma once
// What the benchmark programs share: timing in alternating rounds, and the report they print.
#include <functional>
#include <string>
#include <vector>

constexpr int Rounds = 15;

double Seconds();

template <typename F>
double Time(F f) {
    const double start = Seconds();
    f();
    return Seconds() - start;
}

double Median(std::vector<double> values);

struct Figures {
    double library = 0;
    double floor = 0;
    double lowest = 0;  // the round ratios' range: how much the machine moved the figures
    double highest = 0;
};

// Each side returns the seconds of one operation (its own untimed steps left out). The sides take
// turns operation by operation, in ABBA order, so that load from other programs and slow drift
// (the camera model's growing request log, the registry's caches) fall on both alike; a round is
// one batch of each, and the figure is the median round.
Figures Measure(int batch, int warmup, const std::function<double()>& library,
                const std::function<double()>& floor);

// Median of a few single timings, for the sub-steps.
double MedianOf(int count, const std::function<double()>& step);

std::string Format(double seconds);

// ---- What the run found ----------------------------------------------------------------------

struct Row {
    std::string name;
    Figures figures;
    double target;
    bool measured;
};

extern std::vector<Row> Table;
extern std::vector<std::string> Notes;     // how a floor was made
extern std::vector<std::string> Profile;   // sub-steps behind a ratio
extern std::vector<std::string> Findings;  // library results that were not what they should be

void Note(std::vector<std::string>& list, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void Skip(const char* name, double target, const char* why);

// Prints the table, the ratios, the notes, the sub-steps and the findings; the number of
// operations measured.
int PrintReport();
