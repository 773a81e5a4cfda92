// Launcher start-up cost: wall time of kvocli running the demo class on the stand-in JVM (tracing
// off) against the baseline program that only loads the same JVM library, creates the JVM and runs
// the class. Both run alternately in the same session; prints the medians and their ratio.
//
//   bench_launcher <kvocli.exe> <kvoucd32/mapping file dir> <jvm.dll> <baseline.exe> [runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string native(std::string path) {
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

bool copy(const std::string& from, const std::string& to) {
    if (CopyFileA(from.c_str(), to.c_str(), FALSE))
        return true;
    std::fprintf(stderr, "cannot copy %s to %s (%lu)\n", from.c_str(), to.c_str(), GetLastError());
    return false;
}

// Runs the command line with standard output and error discarded; seconds of wall time, or -1.
double timedRun(std::string commandLine, DWORD* exitCode) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("nul", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION info = {};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        CloseHandle(nul);
        return -1;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    QueryPerformanceCounter(&end);
    GetExitCodeProcess(info.hProcess, exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    CloseHandle(nul);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fputs("usage: bench_launcher kvocli.exe stage-dir jvm.dll baseline.exe [runs]\n", stderr);
        return 1;
    }
    const int runs = argc > 5 ? std::max(20, std::atoi(argv[5])) : 25;
    std::string stage = native(argv[2]);
    if (stage.back() != '\\')
        stage += '\\';

    // A product tree in the temporary directory, without a trace switch file.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string root = std::string(temp) + "kvo_launcher_bench\\";
    for (const char* dir : {"", "bin", "data", "log", "jre", "jre\\bin", "jre\\bin\\classic"})
        CreateDirectoryA((root + dir).c_str(), nullptr);
    DeleteFileA((root + "log\\kvocli.dbg").c_str());
    bool ok = copy(native(argv[1]), root + "bin\\kvocli.exe") &&
              copy(stage + "kvoucd32.dll", root + "bin\\kvoucd32.dll") &&
              copy(native(argv[3]), root + "jre\\bin\\classic\\jvm.dll");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((stage + "CP*.UNI").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            ok = ok && copy(stage + found.cFileName, root + "bin\\" + found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (!ok)
        return 1;
    SetEnvironmentVariableA("RIDOVI", nullptr);

    const std::string launcher = "\"" + root + "bin\\kvocli.exe\" kvo.demo.PrintArgs one two";
    const std::string baseline =
        "\"" + native(argv[4]) + "\" \"" + root + "jre\\bin\\classic\\jvm.dll\" kvo.demo.PrintArgs one two";
    std::vector<double> launcherTimes, baselineTimes;
    DWORD code = 0;
    timedRun(launcher, &code);  // warm the file cache and the wineserver
    timedRun(baseline, &code);
    for (int i = 0; i < runs; ++i) {
        const double b = timedRun(baseline, &code);
        if (b < 0 || code != 0) {
            std::fprintf(stderr, "baseline failed (exit code %lu)\n", code);
            return 1;
        }
        baselineTimes.push_back(b);
        const double l = timedRun(launcher, &code);
        if (l < 0 || code != 0) {
            std::fprintf(stderr, "kvocli failed (exit code %lu)\n", code);
            return 1;
        }
        launcherTimes.push_back(l);
    }
    const double launcherMedian = median(launcherTimes);
    const double baselineMedian = median(baselineTimes);
    std::printf("launches: %d each, alternating\n", runs);
    std::printf("baseline (load jvm.dll, create, run class): median %.1f ms\n", baselineMedian * 1000);
    std::printf("kvocli kvo.demo.PrintArgs, tracing off:     median %.1f ms\n", launcherMedian * 1000);
    std::printf("ratio kvocli / baseline: %.2f (target <= 1.50)\n", launcherMedian / baselineMedian);
    return 0;
}
