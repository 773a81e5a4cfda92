#!/usr/bin/env bash
# The main job: lays out a product tree, runs the launcher kvocli on the stand-in JVM with the demo
# class and a non-ASCII argument, and shows its output, its exit code and where its trace log is;
# then runs the stand-in's file-system demo class, which loads nqfsfunc.dll from bin as the product's
# Java code does and prints the volumes and a listing of the product tree.
#
# The deliverables in out/bin are 32-bit. Where this machine cannot execute 32-bit x86 code, the
# launcher that runs is the build of the same sources that the tests run (tools/test-arch.sh).
#   BUILD=<build directory> (default build), OUT=<staging directory> (default out)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${BUILD:-build}"
OUT="${OUT:-out}"
ARCH="$(tools/test-arch.sh)"
TREE="$BUILD/test-$ARCH"
GENERATOR=$(command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")

echo "== building the $ARCH launcher and the stand-in JVM ($TREE)"
if [ ! -f "$TREE/CMakeCache.txt" ]; then
  cmake -S . -B "$TREE" -G "$GENERATOR" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$ARCH-w64-mingw32.cmake" -DKVO_BUILD_TESTS=ON \
    -DKVO_DELIVERABLES_DIR="$(pwd)/$OUT/bin" >/dev/null
fi
cmake --build "$TREE" -j 2 --target kvocli kvoucd32 nqfsfunc kvo_codepage_files kvo_standin_jvm >/dev/null

# The product tree. The registry key is not needed: without it the root is the parent of the
# directory that holds the program.
DEMO="$(pwd)/$BUILD/demo"
ROOT="$DEMO/product"
rm -rf "$ROOT"
mkdir -p "$ROOT"/{bin,data,database,jni,log,proddata,tempdata,classes/extensions,jre/bin/classic}
cp "$OUT"/bin/* "$ROOT/bin/" 2>/dev/null || true
if [ "$ARCH" != "i686" ]; then
  echo "   this machine cannot run 32-bit x86 code: bin gets the $ARCH build of kvocli.exe, kvoucd32.dll and nqfsfunc.dll"
  echo "   (the 32-bit deliverables from $OUT/bin are beside them, as shipped)"
fi
cp "$TREE/launcher/kvocli.exe" "$TREE/textconv/kvoucd32.dll" "$TREE/fsnative/nqfsfunc.dll" "$ROOT/bin/"
cp "$TREE"/codepages/*.UNI "$ROOT/bin/"
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
