// The launcher programs as a user runs them: a product tree on disk, the stand-in JVM below its jre
// directory, exit codes, standard streams and the files the programs write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "product_tree.h"

using e2e::Launch;
using e2e::Outcome;
using e2e::ProductTree;
using e2e::run;
using kvotest::fileExists;
using kvotest::readFile;
using kvotest::writeFile;

namespace {

constexpr DWORD code(int value) {
    return static_cast<DWORD>(value);
}

// Every "option" line of a stand-in record, in order.
std::vector<std::string> recordedOptions(const std::string& record) {
    std::vector<std::string> options;
    for (const std::string& line : e2e::splitLines(record)) {
        if (line == "option")
            options.push_back("");
        else if (line.rfind("option ", 0) == 0)
            options.push_back(line.substr(7));
    }
    return options;
}

// Text without carriage returns (console text written in text mode ends its lines with CR LF).
std::string lf(const std::string& text) {
    std::string result;
    for (char c : text)
        if (c != '\r')
            result += c;
    return result;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// --- Exit codes ---------------------------------------------------------------------------------

TEST(LauncherExitCodes, NoArgumentPrintsUsageAndEndsWithMinusOne) {
    ProductTree tree;
    const Outcome cli = run(tree.program("kvocli"), {});
    ASSERT_TRUE(cli.ended);
    EXPECT_EQ(code(-1), cli.exitCode);
    EXPECT_EQ("KVOCLI classname [arguments]\n", lf(cli.err));
    const Outcome javaw = run(tree.program("kvojavaw"), {});
    ASSERT_TRUE(javaw.ended);
    EXPECT_EQ(code(-1), javaw.exitCode);
    EXPECT_EQ("KVOJAVA classname [arguments]\n", lf(javaw.err));
}

TEST(LauncherExitCodes, MissingJvmLibraryIsMinusSixWithThePathTracedAndNoDialog) {
    ProductTree tree("");
    const Outcome outcome = run(tree.program("kvocli"), {"kvo.demo.PrintArgs"}, {}, 20000);
    ASSERT_TRUE(outcome.ended) << "a dialog would keep the program from ending";
    EXPECT_EQ(code(-6), outcome.exitCode);
    const std::string trace = readFile(tree.path("log\\kvo.demo.PrintArgs.log"));
    EXPECT_TRUE(contains(trace, "JavaThread: unable to load library \"" +
                                    tree.path("jre\\bin\\classic\\jvm.dll") + "\"; rc = X'"))
        << trace;
}

TEST(LauncherExitCodes, JvmLibraryWithoutEntryPointIsMinusSeven) {
    ProductTree tree(e2e::inputs.noExportJvm);
    const Outcome outcome = run(tree.program("kvocli"), {"kvo.demo.PrintArgs"});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(code(-7), outcome.exitCode);
    EXPECT_TRUE(contains(readFile(tree.path("log\\kvo.demo.PrintArgs.log")),
                         "JavaThread: unable to get address of \"JNI_CreateJavaVM\" in library \""));
}

struct ClassCase {
    const char* program;
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    int exitCode;
};

TEST(LauncherExitCodes, EachOutcomeOfTheJavaClassHasItsCode) {
    const ClassCase cases[] = {
        {"kvocli", {"kvo.demo.PrintArgs", "a"}, {"KVO_STANDIN_CREATE_RESULT=-1"}, -9},
        {"kvocli", {"kvo.demo.Missing"}, {}, -10},
        {"kvocli", {"kvo.demo.NoMain"}, {}, -11},
        {"kvocli", {"kvo.demo.Throw"}, {}, -12},
        {"kvocli", {"kvo.demo.Exit", "3"}, {}, 3},
        {"kvocli", {"kvo.demo.Exit", "3", "caller"}, {}, 3},
        {"kvocli", {"kvo.demo.Abort"}, {}, -13},
        {"kvocli", {"kvo.demo.PrintArgs"}, {}, 0},
        {"kvocon", {"kvo.demo.Exit", "7"}, {}, 7},
        {"kvocon", {"kvo.demo.Throw"}, {}, -12},
        {"kvocon", {}, {"KVO_STANDIN_CONSOLE=missing"}, -10},
        {"kvocon", {}, {"KVO_STANDIN_CONSOLE=nomain"}, -11},
        {"kvojavaw", {"kvo.demo.Abort"}, {}, -13},
        {"kvoconw", {"kvo.demo.Exit", "5"}, {}, 5},
    };
    ProductTree tree;
    for (const ClassCase& c : cases) {
        const Outcome outcome = run(tree.program(c.program), c.arguments, c.environment);
        const std::string what = std::string(c.program) + " " + (c.arguments.empty() ? "" : c.arguments[0]);
        ASSERT_TRUE(outcome.ended) << what;
        EXPECT_EQ(code(c.exitCode), outcome.exitCode) << what << "\n" << outcome.err;
        EXPECT_FALSE(contains(outcome.err, "did not end after")) << what;
    }
}

TEST(LauncherExitCodes, NormalReturnWaitsForTheNonDaemonThread) {
    ProductTree tree;
    const std::string marker = tree.path("worker.txt");
    const std::string record = tree.path("record.txt");
    const Outcome outcome =
        run(tree.program("kvocli"), {"kvo.demo.NonDaemonThread", marker}, {"KVO_STANDIN_RECORD=" + record});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(0u, outcome.exitCode);
    EXPECT_TRUE(contains(readFile(marker), "worker finished"));
    const std::string recorded = readFile(record);
    const size_t worker = recorded.find("worker finished");
    const size_t destroy = recorded.find("destroy 0");
    ASSERT_NE(std::string::npos, worker) << recorded;
    ASSERT_NE(std::string::npos, destroy) << recorded;
    EXPECT_LT(worker, destroy);
}

TEST(LauncherExitCodes, DaemonThreadStillRunningAfterTheJvmIsDestroyedDoesNotCrashTheEnd) {
    // DestroyJavaVM returns while the daemon still runs code of the JVM library: the launcher must not
    // take the library away under it on its way out.
    ProductTree tree;
    for (int round = 0; round < 5; ++round) {
        const std::string marker = tree.path("daemon" + std::to_string(round) + ".txt");
        const std::string record = tree.path("record.txt");
        const Outcome outcome =
            run(tree.program("kvocli"), {"kvo.demo.DaemonThread", marker}, {"KVO_STANDIN_RECORD=" + record});
        ASSERT_TRUE(outcome.ended) << round;
        EXPECT_EQ(0u, outcome.exitCode) << round << "\n" << outcome.err;
        EXPECT_EQ("kvo.demo.DaemonThread: main returns\n", lf(outcome.out));
        const std::string recorded = readFile(record);
        EXPECT_TRUE(contains(recorded, "destroy 0")) << round;
        EXPECT_FALSE(contains(recorded, "unloaded")) << round << ": the library went while its daemon ran";
    }
}

// --- Where the JVM library's own libraries are looked for ---------------------------------------

TEST(LauncherLibrarySearch, JvmLibrariesComeFromTheJvmDirectoryNeverFromTheWorkingDirectory) {
    // Copies of the JVM library's own library beside it, in the working directory and on PATH: the
    // one beside it is loaded; without it, the one on PATH (which stays in the search). Windows no
    // longer looks in the working directory at all (SetDllDirectoryA(""), shown through the seam by
    // the run test); Wine 8 still does, so that case is not run here.
    ProductTree tree(e2e::inputs.dependentJvm);
    const std::string beside = tree.path("jre\\bin\\classic\\jvmdep.dll");
    const std::string planted = tree.path("planted\\");
    CreateDirectoryA(planted.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(e2e::inputs.jvmDependency.c_str(), beside.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(e2e::inputs.jvmDependency.c_str(), (planted + "jvmdep.dll").c_str(), FALSE));
    const std::string record = tree.path("record.txt");
    char path[4096] = "";
    GetEnvironmentVariableA("PATH", path, sizeof path);
    for (const bool besideToo : {true, false}) {
        if (!besideToo)
            DeleteFileA(beside.c_str());
        const Outcome outcome = Launch(tree.program("kvocli"), {"kvo.demo.PrintArgs"},
                                       {"KVO_STANDIN_RECORD=" + record, "PATH=" + planted + ";" + path},
                                       e2e::StandardHandles::Files, besideToo ? planted : tree.root())
                                    .wait();
        EXPECT_EQ(0u, outcome.exitCode);
        const std::string loaded = besideToo ? beside : planted + "jvmdep.dll";
        EXPECT_TRUE(contains(readFile(record), "dependency " + loaded + "\n")) << readFile(record);
    }
}

// --- Exception dumps ----------------------------------------------------------------------------

TEST(LauncherExceptionDump, ConsoleProgramDescribesOnStandardError) {
    ProductTree tree;
    const Outcome outcome = run(tree.program("kvocli"), {"kvo.demo.Throw"});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(code(-12), outcome.exitCode);
    EXPECT_TRUE(contains(outcome.err, "java.lang.IllegalStateException: thrown by kvo.demo.Throw"))
        << outcome.err;
    EXPECT_TRUE(contains(outcome.err, "\tat kvo.demo.Throw.main(Throw.java:12)")) << outcome.err;
    EXPECT_FALSE(fileExists(tree.path("log\\kvo.demo.Throw.jexp")));
}

TEST(LauncherExceptionDump, WindowedProgramAppendsTimeStampAndTraceToJexpFile) {
    ProductTree tree;
    for (int i = 0; i < 2; ++i) {
        const Outcome outcome = run(tree.program("kvojavaw"), {"kvo.demo.Throw"});
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(code(-12), outcome.exitCode);
        EXPECT_FALSE(contains(outcome.err, "IllegalStateException"));
    }
    const std::vector<std::string> lines = e2e::splitLines(readFile(tree.path("log\\kvo.demo.Throw.jexp")));
    int stamps = 0, exceptions = 0;
    for (const std::string& line : lines) {
        if (line.size() == 19 && line[4] == '-' && line[7] == '-' && line[10] == ' ' && line[13] == '.' &&
            line[16] == '.')
            ++stamps;
        if (contains(line, "java.lang.IllegalStateException: thrown by kvo.demo.Throw"))
            ++exceptions;
    }
    EXPECT_EQ(2, stamps);
    EXPECT_EQ(2, exceptions);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(19u, lines[0].size()) << "the time stamp comes first: " << lines[0];
}

TEST(LauncherExceptionDump, WindowedProgramWithoutStandardHandlesStillWritesTheJexpFile) {
    ProductTree tree;
    Launch launch(tree.program("kvojavaw"), {"kvo.demo.Throw"}, {}, e2e::StandardHandles::None);
    ASSERT_TRUE(launch.started());
    const Outcome outcome = launch.wait();
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(code(-12), outcome.exitCode);
    const std::string jexp = readFile(tree.path("log\\kvo.demo.Throw.jexp"));
    EXPECT_TRUE(contains(jexp, "java.lang.IllegalStateException: thrown by kvo.demo.Throw")) << jexp;
    EXPECT_TRUE(contains(jexp, "\tat kvo.demo.Throw.main(Throw.java:12)")) << jexp;

    // Standard error not redirected either (its file cannot be created): the description still goes
    // into the file.
    e2e::ProductKey key;
    key.setString("Root", tree.root());
    key.setNumber("LogOutput", 1);
    ASSERT_TRUE(CreateDirectoryA(tree.path("log\\kvo.demo.Throw.stderr").c_str(), nullptr));
    DeleteFileA(tree.path("log\\kvo.demo.Throw.jexp").c_str());
    Launch unredirected(tree.program("kvojavaw"), {"kvo.demo.Throw"}, {}, e2e::StandardHandles::None);
    ASSERT_TRUE(unredirected.started());
    const Outcome second = unredirected.wait();
    ASSERT_TRUE(second.ended);
    EXPECT_EQ(code(-12), second.exitCode);
    const std::string again = readFile(tree.path("log\\kvo.demo.Throw.jexp"));
    EXPECT_TRUE(contains(again, "java.lang.IllegalStateException: thrown by kvo.demo.Throw")) << again;
}

// --- Options handed to the JVM ------------------------------------------------------------------

TEST(LauncherOptions, ClassArgumentBuildGivesTheFixedTableInOrder) {
    ProductTree tree;
    const std::string record = tree.path("record.txt");
    writeFile(tree.path("data\\kvo.demo.PrintArgs.properties"),
              "jvm.heap.initial=32\njvm.heap.maximum=256m\n");
    const Outcome outcome =
        run(tree.program("kvocli"), {"kvo.demo.PrintArgs", "x"}, {"KVO_STANDIN_RECORD=" + record});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(0u, outcome.exitCode);
    const std::vector<std::string> options = recordedOptions(readFile(record));
    const std::string root = tree.root();
    std::string codeBase = "-Dkvo.code.base=" + root.substr(0, root.size() - 1);
    for (char& c : codeBase)
        if (c == '\\')
            c = '/';
    ASSERT_EQ(26u, options.size());
    EXPECT_EQ("abort", options[0]);
    EXPECT_EQ("exit", options[1]);
    EXPECT_EQ(0u, options[2].rfind("-Djava.class.path=", 0));
    EXPECT_EQ("-Djava.compiler=", options[3]);
    EXPECT_EQ("-Djava.home=" + root + "jre", options[4]);
    EXPECT_EQ(0u, options[5].rfind("-Djava.library.path=", 0));
    EXPECT_EQ(0u, options[6].rfind("-Djava.protocol.handler.pkgs=", 0));
    const std::vector<std::string> rest(options.begin() + 7, options.end());
    const std::vector<std::string> expected = {
        "-Djava.rmi.server.hostname=127.0.0.1",
        "-Dcom.sun.net.ssl.rsaPreMasterSecretFix=true",
        "-Dsun.java2d.noddraw=true",
        codeBase,
        "-Dkvo.directory.root=" + root,
        "-Dkvo.directory.bin=" + root + "bin\\",
        "-Dkvo.directory.data=" + root + "data\\",
        "-Dkvo.directory.database=" + root + "database\\",
        "-Dkvo.directory.jre=" + root + "jre\\",
        "-Dkvo.directory.log=" + root + "log\\",
        "-Dkvo.directory.proddata=" + root + "proddata\\",
        "-Dkvo.directory.tempdata=" + root + "tempdata\\",
        "-Dkvo.log.output=0",
        "-Duser.language=en",
        "-Duser.region=US",
        rest[15],  // boot class path, checked by its prefix below
        "-Xms32m",
        "-Xmx256m",
        "-Xrs",
    };
    EXPECT_EQ(expected, rest);
    EXPECT_EQ(0u, rest[15].rfind("-Xbootclasspath/p:", 0));
    const std::string recorded = readFile(record);
    EXPECT_TRUE(contains(recorded, "version 0x00010002"));
    EXPECT_TRUE(contains(recorded, "ignoreUnrecognized 1"));
    EXPECT_TRUE(contains(recorded, "hook abort set"));
    EXPECT_TRUE(contains(recorded, "hook exit set"));
}

TEST(LauncherOptions, ConsoleBuildAddsSecurityTrustStoreAndDropsExtrasBeyondSixtyFour) {
    ProductTree tree;
    const std::string record = tree.path("record.txt");
    std::string properties;
    for (int n = 1; n <= 40; ++n)
        properties += ".jvm.option." + std::to_string(n) + "=-Dextra." + std::to_string(n) + "=v\n";
    writeFile(tree.path("data\\kvocon.properties"), properties);
    writeFile(tree.path("log\\kvocon.dbg"), "");  // the dropped options are information lines
    const Outcome outcome =
        run(tree.program("kvocon"), {"kvo.demo.PrintArgs"}, {"KVO_STANDIN_RECORD=" + record});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(0u, outcome.exitCode);
    const std::vector<std::string> options = recordedOptions(readFile(record));
    ASSERT_EQ(64u, options.size());
    EXPECT_EQ("-Djava.rmi.server.hostname=127.0.0.1", options[7]);
    EXPECT_EQ("-Djava.security.manager", options[8]);
    EXPECT_EQ("-Djava.security.policy==" + tree.path("proddata\\java\\security.policy"), options[9]);
    EXPECT_EQ("-Dcom.sun.net.ssl.rsaPreMasterSecretFix=true", options[10]);
    EXPECT_EQ("-Xrs", options[27]);
    EXPECT_EQ("-Dextra.1=v", options[28]);
    EXPECT_EQ("-Dextra.36=v", options[63]);
    const std::string trace = readFile(tree.path("log\\com.orvane.console.ConsoleLauncher.log"));
    for (int n = 37; n <= 40; ++n)
        EXPECT_TRUE(contains(trace, "JavaThread: unable to add jvm option \"-Dextra." + std::to_string(n) +
                                        "=v\" to jvm option array"))
            << n;
    EXPECT_FALSE(contains(trace, "unable to add jvm option \"-Dextra.36=v\""));

    // With a writable trust store it comes right after the security options.
    writeFile(tree.path("data\\cacerts.ssl"), "store");
    writeFile(tree.path("data\\kvocon.properties"), "");
    ASSERT_TRUE(run(tree.program("kvocon"), {}, {"KVO_STANDIN_RECORD=" + record}).ended);
    const std::vector<std::string> withStore = recordedOptions(readFile(record));
    ASSERT_EQ(29u, withStore.size());
    EXPECT_EQ("-Djavax.net.ssl.trustStore=" + tree.path("data\\cacerts.ssl"), withStore[10]);

    // A trust store that cannot be opened for update (here another process holds it open for reading
    // and shares it for reading only) is left out.
    const HANDLE held = CreateFileA(tree.path("data\\cacerts.ssl").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    const bool ended = run(tree.program("kvocon"), {}, {"KVO_STANDIN_RECORD=" + record}).ended;
    CloseHandle(held);
    ASSERT_TRUE(ended);
    const std::vector<std::string> readOnlyStore = recordedOptions(readFile(record));
    ASSERT_EQ(28u, readOnlyStore.size());
    for (const std::string& option : readOnlyStore)
        EXPECT_FALSE(contains(option, "trustStore")) << option;
}

TEST(LauncherOptions, JitAndDebuggerSettings) {
    ProductTree tree;
    e2e::ProductKey key;
    key.setString("Root", tree.root());
    key.setNumber("JIT", 1);
    key.setNumber("NoClassGC", 1);
    const std::string record = tree.path("record.txt");
    ASSERT_TRUE(run(tree.program("kvocli"), {"kvo.demo.PrintArgs"}, {"KVO_STANDIN_RECORD=" + record}).ended);
    std::vector<std::string> options = recordedOptions(readFile(record));
    ASSERT_EQ(27u, options.size());
    EXPECT_EQ("-Djava.compiler=jitk", options[3]);
    EXPECT_EQ("-Xnoclassgc", options[25]);

    writeFile(tree.path("data\\kvocli.properties"), "jdwp=yes\njdwp.suspend=Y\n");
    ASSERT_TRUE(run(tree.program("kvocli"), {"kvo.demo.PrintArgs"}, {"KVO_STANDIN_RECORD=" + record}).ended);
    options = recordedOptions(readFile(record));
    ASSERT_EQ(30u, options.size());
    EXPECT_EQ("-Djava.compiler=", options[3]);
    EXPECT_EQ("-Xdebug", options[27]);
    EXPECT_EQ("-Xnoagent", options[28]);
    EXPECT_EQ("-Xrunjdwp:transport=dt_socket,server=y,address=8003,suspend=y", options[29]);
}

// --- Arguments, trace log and switches ---------------------------------------------------------

TEST(LauncherTraceLog, NamedAfterTheClassAndSwitchedToFullDetailBySwitchFileOrRidovi) {
    ProductTree tree;
    const std::string log = tree.path("log\\kvo.demo.PrintArgs.log");
    const std::string rootLine = "main: root directory = \"" + tree.root() + "\"";
    // Arguments reach Java unchanged, one of them outside ASCII (code page 1252).
    const Outcome plain = run(tree.program("kvocli"), {"kvo.demo.PrintArgs", "one", "two words", "caf\xe9"});
    ASSERT_TRUE(plain.ended);
    EXPECT_EQ(0u, plain.exitCode) << plain.err;
    EXPECT_EQ("one\ntwo words\ncaf\xc3\xa9\n", lf(plain.out));
    ASSERT_TRUE(fileExists(log));
    EXPECT_FALSE(contains(readFile(log), rootLine));
    EXPECT_FALSE(fileExists(tree.path("log\\kvocli.log")));

    writeFile(tree.path("log\\kvocli.dbg"), "");
    ASSERT_TRUE(run(tree.program("kvocli"), {"kvo.demo.PrintArgs"}).ended);
    std::string trace = readFile(log);
    EXPECT_TRUE(contains(trace, rootLine)) << trace;
    // No properties file at all is no error: both candidates are looked for, then defaults apply.
    EXPECT_TRUE(contains(
        trace, "main: unable to find file \"" + tree.path("data\\kvo.demo.PrintArgs.properties") + "\""));
    EXPECT_TRUE(
        contains(trace, "main: unable to find file \"" + tree.path("data\\kvocli.properties") + "\""));
    EXPECT_TRUE(contains(trace, "GetProperty: key \"jvm.heap.maximum\" not found"));
    DeleteFileA(tree.path("log\\kvocli.dbg").c_str());

    ASSERT_TRUE(run(tree.program("kvocli"), {"kvo.demo.PrintArgs"}, {"RIDOVI=HIGH"}).ended);
    EXPECT_TRUE(contains(readFile(log), rootLine));

    // The console programs name their log after the console class; a switch file of another
    // program does nothing for them.
    writeFile(tree.path("log\\kvocli.dbg"), "");
    ASSERT_TRUE(run(tree.program("kvocon"), {"a"}).ended);
    const std::string console = readFile(tree.path("log\\com.orvane.console.ConsoleLauncher.log"));
    EXPECT_FALSE(contains(console, rootLine));
    writeFile(tree.path("log\\kvocon.dbg"), "");
    ASSERT_TRUE(run(tree.program("kvocon"), {"a"}).ended);
    EXPECT_TRUE(contains(readFile(tree.path("log\\com.orvane.console.ConsoleLauncher.log")), rootLine));
}

// Under UTF-8 as the ANSI code page (Windows 10 and 11 give it where the system setting or the
// program's manifest asks for it; here a manifest beside a copy of kvocli, which Wine honours), each
// non-ASCII argument reaches Java whole, not byte by byte as default characters.
TEST(LauncherArguments, NonAsciiArgumentsArriveExactUnderUtf8) {
    ProductTree tree;
    const std::string program = tree.program("kvocliu8");
    ASSERT_TRUE(CopyFileA(tree.program("kvocli").c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((e2e::inputs.stageDir + "utf8_code_page.manifest").c_str(),
                          (program + ".manifest").c_str(), FALSE));
    // This program's code page is 1252: e acute and the euro sign, two and three bytes in UTF-8.
    const Outcome out = run(program, {"kvo.demo.PrintArgs", "caf\xe9", "\x80uro", "plain"});
    ASSERT_TRUE(out.ended);
    EXPECT_EQ(0u, out.exitCode) << out.err;
    EXPECT_EQ("caf\xc3\xa9\n\xe2\x82\xacuro\nplain\n", lf(out.out));
}

// --- Redirection --------------------------------------------------------------------------------

TEST(LauncherRedirection, LogOutputChoosesNulOrFilesEmptiedAtEachStart) {
    ProductTree tree;
    const std::string out = tree.path("log\\kvo.demo.PrintArgs.stdout");
    const std::string err = tree.path("log\\kvo.demo.PrintArgs.stderr");
    {
        e2e::ProductKey key;
        key.setString("Root", tree.root());
        key.setNumber("LogOutput", 0);
        const Outcome outcome = run(tree.program("kvojavaw"), {"kvo.demo.PrintArgs", "hidden"});
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(0u, outcome.exitCode);
        EXPECT_EQ("", outcome.out);
        EXPECT_FALSE(fileExists(out));
    }
    {
        e2e::ProductKey key;
        key.setString("Root", tree.root());
        key.setNumber("LogOutput", 1);
        writeFile(out, "old output that must go\n");
        writeFile(err, "old errors that must go\n");
        const Outcome outcome = run(tree.program("kvojavaw"), {"kvo.demo.PrintArgs", "shown"});
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(0u, outcome.exitCode);
        EXPECT_EQ("", outcome.out);
        EXPECT_EQ("shown\n", readFile(out));
        EXPECT_EQ("", readFile(err));
        // kvocli never redirects and ignores LogOutput.
        const Outcome cli = run(tree.program("kvocli"), {"kvo.demo.PrintArgs", "console"});
        EXPECT_EQ("console\n", lf(cli.out));
        EXPECT_EQ("shown\n", readFile(out));
    }
}

TEST(LauncherRedirection, JvmWritingThroughTheStandardHandlesWritesIntoTheFiles) {
    // Wine's run-time library sets the standard handles along with the descriptors in windowed programs
    // too, Windows' in console programs only: there this shows the launcher's own setting.
    ProductTree tree;
    e2e::ProductKey key;
    key.setString("Root", tree.root());
    key.setNumber("LogOutput", 1);
    const Outcome outcome =
        run(tree.program("kvojavaw"), {"kvo.demo.PrintThroughHandles", "shown", "warned"});
    EXPECT_EQ(0u, outcome.exitCode);
    EXPECT_EQ("shown\n", readFile(tree.path("log\\kvo.demo.PrintThroughHandles.stdout")));
    EXPECT_EQ("warned\n", readFile(tree.path("log\\kvo.demo.PrintThroughHandles.stderr")));
}

TEST(LauncherRedirection, StreamWhoseFileCannotBeOpenedStaysAsItWas) {
    ProductTree tree;
    e2e::ProductKey key;
    key.setString("Root", tree.root());
    key.setString("LogDir", tree.path("no such directory\\"));
    key.setNumber("LogOutput", 1);
    const Outcome outcome = run(tree.program("kvojavaw"), {"kvo.demo.PrintArgs", "still here"});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(0u, outcome.exitCode);
    EXPECT_EQ("still here\n", lf(outcome.out));
}

// --- Console programs --------------------------------------------------------------------------

TEST(LauncherConsolePrograms, RunTheConsoleClassWithAllArgumentsFromTheClassesDirectory) {
    ProductTree tree;
    writeFile(tree.path("log\\kvocon.dbg"), "");
    const Outcome console = run(tree.program("kvocon"), {"first", "second"});
    ASSERT_TRUE(console.ended);
    EXPECT_EQ(0u, console.exitCode) << console.err;
    EXPECT_EQ("first\nsecond\n", lf(console.out));
    const std::string trace = readFile(tree.path("log\\com.orvane.console.ConsoleLauncher.log"));
    EXPECT_TRUE(contains(trace, "main: working directory = \"" + tree.path("classes") + "\"")) << trace;
    EXPECT_TRUE(contains(trace, "JavaThread: class descriptor = \"com/orvane/console/ConsoleLauncher\""));

    // The windowed console program sends its output to files named after the console class.
    e2e::ProductKey key;
    key.setString("Root", tree.root());
    key.setNumber("LogOutput", 1);
    const Outcome windowed = run(tree.program("kvoconw"), {"third"});
    ASSERT_TRUE(windowed.ended);
    EXPECT_EQ(0u, windowed.exitCode);
    EXPECT_EQ("", windowed.out);
    EXPECT_EQ("third\n", readFile(tree.path("log\\com.orvane.console.ConsoleLauncher.stdout")));
    const Outcome thrown = run(tree.program("kvoconw"), {"kvo.demo.Throw"});
    EXPECT_EQ(code(-12), thrown.exitCode);
    EXPECT_TRUE(contains(readFile(tree.path("log\\com.orvane.console.ConsoleLauncher.jexp")),
                         "java.lang.IllegalStateException: thrown by kvo.demo.Throw"));
}

// --- Shutdown and the end of the session --------------------------------------------------------

TEST(LauncherShutdown, EndsEveryRunningConsoleWithZeroAndWritesNoTraceLog) {
    ProductTree tree;
    ProductTree other;
    // None running: nothing to do.
    const Outcome idle = run(other.program("kvocon"), {"shutdown"});
    ASSERT_TRUE(idle.ended);
    EXPECT_EQ(0u, idle.exitCode);

    const std::string first = tree.path("first.txt");
    const std::string second = tree.path("second.txt");
    Launch a(tree.program("kvocon"), {"kvo.demo.RunForever", first});
    Launch b(tree.program("kvoconw"), {"kvo.demo.RunForever", second});
    ASSERT_TRUE(e2e::waitForText(first, "running"));
    ASSERT_TRUE(e2e::waitForText(second, "running"));
    const Outcome stop = run(other.program("kvocon"), {"SHUTDOWN", "ignored"});
    ASSERT_TRUE(stop.ended);
    EXPECT_EQ(0u, stop.exitCode);
    const Outcome endA = a.wait(20000);
    const Outcome endB = b.wait(20000);
    ASSERT_TRUE(endA.ended);
    ASSERT_TRUE(endB.ended);
    EXPECT_EQ(0u, endA.exitCode);
    EXPECT_EQ(0u, endB.exitCode);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(other.path("log\\*.log").c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "shutdown wrote " << found.cFileName;
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

struct WindowSearch {
    DWORD processId;
    HWND window;
};

BOOL CALLBACK findProcessWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId) {
        search->window = window;
        return FALSE;
    }
    return TRUE;
}

TEST(LauncherShutdown, EndOfSessionEndsTheLauncherWithZero) {
    ProductTree tree;
    const std::string marker = tree.path("running.txt");
    Launch launch(tree.program("kvocli"), {"kvo.demo.RunForever", marker});
    ASSERT_TRUE(e2e::waitForText(marker, "running"));
    WindowSearch search{launch.processId(), nullptr};
    EnumWindows(findProcessWindow, reinterpret_cast<LPARAM>(&search));
    ASSERT_NE(nullptr, search.window);
    char className[64] = "";
    GetClassNameA(search.window, className, sizeof className);
    EXPECT_STREQ("KVOCLI", className);
    PostMessageA(search.window, WM_ENDSESSION, TRUE, 0);
    const Outcome outcome = launch.wait(20000);
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(0u, outcome.exitCode);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc < 7) {
        std::fprintf(stderr,
                     "usage: launcher_e2e_test launcherDir standinJvm noExportJvm stageDir dependentJvm "
                     "jvmDependency\n");
        return 2;
    }
    auto withSlash = [](std::string dir) {
        for (char& c : dir)
            if (c == '/')
                c = '\\';
        if (!dir.empty() && dir.back() != '\\')
            dir += '\\';
        return dir;
    };
    auto native = [](std::string path) {
        for (char& c : path)
            if (c == '/')
                c = '\\';
        return path;
    };
    e2e::inputs = {withSlash(argv[1]), native(argv[2]), native(argv[3]),
                   withSlash(argv[4]), native(argv[5]), native(argv[6])};
    return RUN_ALL_TESTS();
}
