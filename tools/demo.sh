#!/usr/bin/env bash
# The main job, once per Windows build this machine runs (tools/test-arch.sh --all: the 32-bit and
# the 64-bit build, or the 64-bit one alone where the machine runs no 32-bit x86 code):
#  - lays out a product tree with the staged deliverables (out/bin, or out/bin64 for the 64-bit
#    build), runs the launcher kvocli on the stand-in JVM with the demo class and a non-ASCII
#    argument, and shows its output, its exit code and its trace log;
#  - runs the stand-in's file-system demo class, which loads nqfsfunc.dll from bin as the product's
#    Java code does and prints the volumes and a listing of the product tree;
#  - installs the demo package (out/kvo-demo.msi, or out/kvo-demo-x64.msi) with msiexec, runs the
#    installed kvocli and removes the package, showing the lines the custom actions of kta_ca.dll
#    write into the installer's log.
#   tools/demo.sh [ARCH...]   (default: tools/test-arch.sh --all)
#   BUILD=<build directory> (default build), OUT=<staging directory> (default out)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${BUILD:-build}"
OUT="${OUT:-out}"
GENERATOR=$(command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")

demo() {
ARCH="$1"
TREE="$BUILD/test-$ARCH"
if [ "$ARCH" = "i686" ]; then
  STAGED="$OUT/bin" PACKAGE="$(pwd)/$OUT/kvo-demo.msi"
else
  STAGED="$OUT/bin64" PACKAGE="$(pwd)/$OUT/kvo-demo-x64.msi"
fi
echo
echo "======== the $ARCH build: $STAGED and $(basename "$PACKAGE")"
echo "== building the $ARCH stand-in JVM ($TREE)"
if [ ! -f "$TREE/CMakeCache.txt" ]; then
  cmake -S . -B "$TREE" -G "$GENERATOR" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$ARCH-w64-mingw32.cmake" -DKVO_BUILD_TESTS=ON \
    -DKVO_DELIVERABLES_DIR="$(pwd)/$OUT/bin" -DKVO_DELIVERABLES64_DIR="$(pwd)/$OUT/bin64" >/dev/null
fi
cmake --build "$TREE" -j 2 --target kvo_standin_jvm >/dev/null

# The product tree. The registry key is not needed: without it the root is the parent of the
# directory that holds the program.
DEMO="$(pwd)/$BUILD/demo/$ARCH"
ROOT="$DEMO/product"
rm -rf "$ROOT"
mkdir -p "$ROOT"/{bin,data,database,jni,log,proddata,tempdata,classes/extensions,jre/bin/classic}
cp "$STAGED"/* "$ROOT/bin/"
cp "$TREE/standin/jvm.dll" "$ROOT/jre/bin/classic/jvm.dll"
printf 'jvm.heap.initial=32\njvm.heap.maximum=256\n.jvm.option.1=-Ddemo.greeting=hello\n' > "$ROOT/data/kvocli.properties"
printf 'classpath.append.1=lib/demo.jar\n' > "$ROOT/classes/extensions/demo.KVOExt"
touch "$ROOT/log/kvocli.dbg"   # full tracing, so that the log shows every step

# A Wine prefix of the demo's own, so that the tests' registry and processes are left alone.
export KVO_WINEPREFIX="$DEMO/wineprefix"
WINE="$TREE/wine.sh"
"$WINE" start
trap '"$WINE" stop' EXIT

echo
echo "   (no registry key: the launcher says so on standard error and takes the root from its own path)"
echo "== bin\\kvocli.exe kvo.demo.PrintArgs \"Grüße aus Köln\" demo"
set +e
"$WINE" run "$ROOT/bin/kvocli.exe" kvo.demo.PrintArgs "Grüße aus Köln" demo </dev/null
rc=$?
set -e
echo "== exit code: $rc (under Wine the exit status is cut to 8 bits)"
LOG="$ROOT/log/kvo.demo.PrintArgs.log"
echo "== trace log: $LOG  (Windows: Z:$(echo "$LOG" | tr / '\\'))"
if [ -f "$LOG" ]; then
  echo "   $(wc -l <"$LOG") lines; the JVM options it shows:"
  grep -a 'jvmOption\[' "$LOG" | sed 's/^.*JavaThread: /     /' | head -40
fi

# The third deliverable at work: the stand-in's kvo.demo.FileSystem loads nqfsfunc.dll from bin.
WINROOT="Z:$(echo "$ROOT" | tr / '\\')"
echo
echo "== bin\\kvocli.exe kvo.demo.FileSystem \"$WINROOT\"   (nqfsfunc.dll: volumes and a listing)"
set +e
"$WINE" run "$ROOT/bin/kvocli.exe" kvo.demo.FileSystem "$WINROOT" </dev/null
rc=$?
set -e
echo "== exit code: $rc"

# The installation package: installed in the demo's prefix, the installed kvocli run, and removed
# again, with the lines its custom actions (kta_ca.dll) write into the installer's log.
winpath() { echo "Z:$1" | tr / '\\'; }
INSTALL_LOG="$DEMO/install.log"
REMOVE_LOG="$DEMO/uninstall.log"
actionLines() {  # the custom actions' lines of an installer log
  tr -d '\r' <"$1" | grep -a -E '\*\*\*\* ZAL_(INFO|ERROR) -- ' | sed 's/^/     /'
}

# A product left installed by an interrupted demo goes first.
"$WINE" run msiexec /x "$(winpath "$PACKAGE")" /qn DELETEDATA=y </dev/null >/dev/null 2>&1 || true
"$WINE" run reg delete 'HKLM\SOFTWARE\Orvane' /f </dev/null >/dev/null 2>&1 || true
rm -rf "$KVO_WINEPREFIX/drive_c/Program Files/Orvane" "$KVO_WINEPREFIX/drive_c/Program Files (x86)/Orvane"

echo
echo "== msiexec /i $(basename "$PACKAGE") /qn   ($PACKAGE)"
set +e
"$WINE" run msiexec /i "$(winpath "$PACKAGE")" /qn /l*v "$(winpath "$INSTALL_LOG")" </dev/null
rc=$?
set -e
echo "== exit code: $rc; the custom actions' lines of the installer log ($INSTALL_LOG):"
actionLines "$INSTALL_LOG"
INSTALLED="$KVO_WINEPREFIX/drive_c/Program Files/Orvane/KVO Demo"
[ -d "$INSTALLED" ] || INSTALLED="$KVO_WINEPREFIX/drive_c/Program Files (x86)/Orvane/KVO Demo"
if [ -d "$INSTALLED" ]; then
  echo "== the installed tree ($INSTALLED):"
  (cd "$INSTALLED" && find . -mindepth 1 | sort | sed 's/^\.\//     /')

  # The stand-in JVM plays the product's Java runtime; the launcher finds the root in the registry
  # key the package wrote and the properties the installation seeded into data.
  cp "$TREE/standin/jvm.dll" "$INSTALLED/jre/bin/classic/jvm.dll"
  touch "$INSTALLED/log/kvocli.dbg"   # full tracing
  echo
  echo "== the installed bin\\kvocli.exe kvo.demo.PrintArgs installed"
  set +e
  "$WINE" run "$INSTALLED/bin/kvocli.exe" kvo.demo.PrintArgs installed </dev/null
  rc=$?
  set -e
  echo "== exit code: $rc; its trace log: $INSTALLED/log/kvo.demo.PrintArgs.log"
  echo "   (data\\kvocli.properties, seeded by SeedDataCA, gave the JVM option:"
  grep -a -h 'demo.greeting' "$INSTALLED/log/kvo.demo.PrintArgs.log" | sed 's/^.*JavaThread: /     /' | head -3 || true
  echo "   )"
fi

echo
echo "== msiexec /x $(basename "$PACKAGE") /qn DELETEDATA=y"
set +e
"$WINE" run msiexec /x "$(winpath "$PACKAGE")" /qn DELETEDATA=y /l*v "$(winpath "$REMOVE_LOG")" </dev/null
rc=$?
set -e
echo "== exit code: $rc; the custom actions' lines of the installer log ($REMOVE_LOG):"
actionLines "$REMOVE_LOG"
if [ -d "$INSTALLED" ]; then
  echo "== left on disk: the product's own folders and files, which DeleteDataCA and CleanUpTheEmptiesCA"
  echo "   scheduled for removal (Windows removes them; Wine's installer does not honour those rows):"
  (cd "$INSTALLED" && find . -mindepth 1 | sort | sed 's/^\.\//     /')
fi
# The launcher part of the next demo starts without the product's registry key again.
"$WINE" run reg delete 'HKLM\SOFTWARE\Orvane' /f </dev/null >/dev/null 2>&1 || true
"$WINE" stop
trap - EXIT
}

for arch in ${*:-$(tools/test-arch.sh --all)}; do
  demo "$arch"
done
