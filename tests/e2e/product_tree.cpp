#include "product_tree.h"

#include <cstdio>
#include <cstdlib>

namespace e2e {

Inputs inputs;

namespace {

const char* const kProductKey = "SOFTWARE\\Orvane\\Varnel\\CurrentVersion";

void makeDirectory(const std::string& path) {
    CreateDirectoryA(path.c_str(), nullptr);
}

void copyInto(const std::string& source, const std::string& target) {
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        std::fprintf(stderr, "cannot copy %s to %s (%lu)\n", source.c_str(), target.c_str(), GetLastError());
        std::abort();
    }
}

std::string quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string result = "\"";
    for (char c : argument) {
        if (c == '"')
            result += '\\';
        result += c;
    }
    return result + "\"";
}

HANDLE inheritableFile(const std::string& path, bool write) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, TRUE};
    return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &attributes, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ProductTree::ProductTree(const std::string& jvmLibrary) : scratch_("kvoe2e") {
    root_ = scratch_.path() + "prod\\";
    for (const char* dir : {"", "bin", "data", "log", "jre", "jre\\bin", "jre\\bin\\classic", "classes",
                            "classes\\extensions", "proddata", "proddata\\java"})
        makeDirectory(root_ + dir);
    for (const char* name : {"kvocli.exe", "kvocon.exe", "kvojavaw.exe", "kvoconw.exe"})
        copyInto(inputs.launcherDir + name, root_ + "bin\\" + name);
    copyInto(inputs.stageDir + "kvoucd32.dll", root_ + "bin\\kvoucd32.dll");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((inputs.stageDir + "CP*.UNI").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            copyInto(inputs.stageDir + found.cFileName, root_ + "bin\\" + found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (!jvmLibrary.empty())
        copyInto(jvmLibrary, root_ + "jre\\bin\\classic\\jvm.dll");
}

ProductKey::ProductKey() {
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
}

ProductKey::~ProductKey() {
    if (key_ != nullptr)
        RegCloseKey(key_);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductKey);
}

void ProductKey::setString(const char* name, const std::string& value) {
    RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
}

void ProductKey::setNumber(const char* name, DWORD value) {
    RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

Launch::Launch(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment, StandardHandles handles,
               const std::string& workingDirectory)
    : io_("kvoio") {
    std::string commandLine = quoted(program);
    for (const std::string& argument : arguments) {
        commandLine += ' ';
        commandLine += quoted(argument);
    }

    // The child inherits this process's environment with the additions.
    std::vector<std::pair<std::string, std::string>> previous;
    for (const std::string& entry : environment) {
        const size_t equals = entry.find('=');
        const std::string name = entry.substr(0, equals);
        char old[4096];
        const DWORD length = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
        previous.emplace_back(name,
                              length > 0 && length < sizeof old ? std::string(old) : std::string("\x01"));
        const std::string value = entry.substr(equals + 1);
        SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
    }

    HANDLE in = CreateFileA("nul", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            0, nullptr);
    SetHandleInformation(in, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    HANDLE out = inheritableFile(io_.file("out"), true);
    HANDLE err = inheritableFile(io_.file("err"), true);
    const bool withHandles = handles == StandardHandles::Files;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = withHandles ? in : nullptr;
    startup.hStdOutput = withHandles ? out : nullptr;
    startup.hStdError = withHandles ? err : nullptr;
    PROCESS_INFORMATION info = {};
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, withHandles, CREATE_NO_WINDOW, nullptr,
                       workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup, &info)) {
        process_ = info.hProcess;
        processId_ = info.dwProcessId;
        CloseHandle(info.hThread);
    }
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    for (const auto& [name, value] : previous)
        SetEnvironmentVariableA(name.c_str(), value == "\x01" ? nullptr : value.c_str());
}

Launch::~Launch() {
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_, 99);
            WaitForSingleObject(process_, 5000);
        }
        CloseHandle(process_);
    }
}

Outcome Launch::wait(DWORD timeoutMs) {
    Outcome outcome;
    if (process_ == nullptr)
        return outcome;
    if (WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0) {
        outcome.ended = true;
        GetExitCodeProcess(process_, &outcome.exitCode);
    } else {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    outcome.out = kvotest::readFile(io_.file("out"));
    outcome.err = kvotest::readFile(io_.file("err"));
    return outcome;
}

Outcome run(const std::string& program, const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment, DWORD timeoutMs) {
    Launch launch(program, arguments, environment);
    return launch.wait(timeoutMs);
}

bool waitForText(const std::string& file, const std::string& text, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (kvotest::readFile(file).find(text) != std::string::npos)
            return true;
        Sleep(50);
    }
    return false;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace e2e
