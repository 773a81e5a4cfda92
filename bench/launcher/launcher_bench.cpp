// Launcher start-up cost: wall time of kvocli running the demo class on the stand-in JVM (tracing
// off) against the baseline program that only loads the same JVM library, creates the JVM and runs
// the class. All run alternately in the same session; prints the medians and their ratios.
//
// A second baseline creates a hidden window first, as the launcher must: the difference between the
// two baselines is what having a window at all costs on this platform, the difference between the
// windowed baseline and kvocli is the launcher's own work.
//
//   bench_launcher <kvocli.exe> <kvoucd32/mapping file dir> <jvm.dll> <baseline.exe>
//                  <windowed baseline.exe> [runs]
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
    if (argc < 6) {
        std::fputs(
            "usage: bench_launcher kvocli.exe stage-dir jvm.dll baseline.exe baseline-window.exe [runs]\n",
            stderr);
        return 1;
    }
    const int runs = argc > 6 ? std::max(20, std::atoi(argv[6])) : 25;
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
    const std::string jvmAndClass = "\"" + root + "jre\\bin\\classic\\jvm.dll\" kvo.demo.PrintArgs one two";
    const std::string baseline = "\"" + native(argv[4]) + "\" " + jvmAndClass;
    const std::string windowedBaseline = "\"" + native(argv[5]) + "\" " + jvmAndClass;
    struct Program {
        const char* name;
        const std::string& commandLine;
        std::vector<double> times;
    } programs[] = {
        {"baseline", baseline, {}},
        {"baseline with a hidden window", windowedBaseline, {}},
        {"kvocli", launcher, {}},
    };
    DWORD code = 0;
    for (Program& program : programs)
        timedRun(program.commandLine, &code);  // warm the file cache and the wineserver
    for (int i = 0; i < runs; ++i) {
        for (Program& program : programs) {
            const double seconds = timedRun(program.commandLine, &code);
            if (seconds < 0 || code != 0) {
                std::fprintf(stderr, "%s failed (exit code %lu)\n", program.name, code);
                return 1;
            }
            program.times.push_back(seconds);
        }
    }
    const double baselineMedian = median(programs[0].times);
    const double windowedMedian = median(programs[1].times);
    const double launcherMedian = median(programs[2].times);
    std::printf("launches: %d each, alternating\n", runs);
    std::printf("baseline (load jvm.dll, create, run class):  median %6.1f ms\n", baselineMedian * 1000);
    std::printf("baseline with a hidden window:               median %6.1f ms\n", windowedMedian * 1000);
    std::printf("kvocli kvo.demo.PrintArgs, tracing off:      median %6.1f ms\n", launcherMedian * 1000);
    std::printf("ratio kvocli / baseline:                     %.2f (target <= 1.50)\n",
                launcherMedian / baselineMedian);
    std::printf("ratio baseline with a window / baseline:     %.2f (the platform's price of a window)\n",
                windowedMedian / baselineMedian);
    std::printf("ratio kvocli / baseline with a window:       %.2f (the launcher's own work)\n",
                launcherMedian / windowedMedian);
    return 0;
}
