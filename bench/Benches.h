#pragma once
// Operations of the benchmark kept in files of their own; each adds its row, notes and
// sub-steps to the report.
void BenchInstaller();  // BenchInstaller.cpp
