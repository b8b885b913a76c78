// A fault inside a test (a read past a guarded block) ends the program with a message instead of
// waiting in the platform's debugger.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

namespace {

LONG WINAPI Report(EXCEPTION_POINTERS* info) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "\nFATAL: exception 0x%08lX at %p in %s.%s\n",
                 static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                 info->ExceptionRecord->ExceptionAddress, test ? test->test_suite_name() : "?",
                 test ? test->name() : "?");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

struct InstallReport {
    InstallReport() { SetUnhandledExceptionFilter(Report); }
} installReport;

}  // namespace
