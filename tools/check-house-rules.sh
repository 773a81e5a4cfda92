#!/usr/bin/env bash
# The house rules that a compiler does not enforce, checked on the deliverables' sources:
#  - no exceptions: no throw, try or catch;
#  - one allocation policy: no new or delete expressions (kvo::heap's heapNew / heapDelete and the
#    owners in heap.h instead) and no allocating standard containers or strings;
#  - the platform-free rules (every rules/ folder) include no Windows header.
# Usage: check-house-rules.sh [source root]
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

mapfile -t files < <(find launcher support textconv fsnative installer \
                       \( -name '*.cpp' -o -name '*.h' \) -not -path '*/jni/*' 2>/dev/null | sort)

failures=0
report() {  # file, rule, matching lines
  echo "$1: $2"
  echo "$3" | sed 's/^/    /'
  failures=$((failures + 1))
}

for f in "${files[@]}"; do
  # Code without the contents of string literals (a log text may say "new") and without line
  # comments (a "//" inside a character literal cuts the line short, which only hides code from the
  # check, never invents a finding).
  code=$(sed -e 's/"\([^"\\]\|\\.\)*"/""/g' -e 's#//.*$##' "$f" | grep -n '' || true)
  hits=$(echo "$code" | grep -E '(^|[^A-Za-z0-9_])(throw|try|catch)([^A-Za-z0-9_]|$)' || true)
  [ -z "$hits" ] || report "$f" "exception keyword" "$hits"
  if [ "$f" != "support/rules/heap.h" ]; then
    hits=$(echo "$code" | grep -E '(^|[^A-Za-z0-9_.>])new([^A-Za-z0-9_]|$)' || true)
    [ -z "$hits" ] || report "$f" "new expression (use kvo::heapNew / heapArray)" "$hits"
    hits=$(echo "$code" | grep -E '(^|[^A-Za-z0-9_=] *)delete( *\[\])? *[A-Za-z_(*]' \
             | grep -vE '= *delete' || true)
    [ -z "$hits" ] || report "$f" "delete expression (use kvo::heapDelete / the heap owners)" "$hits"
  fi
  hits=$(echo "$code" | grep -E 'std::(vector|string|wstring|basic_string|map|unordered_map|set|unordered_set|list|deque|function|make_unique|make_shared|shared_ptr)\b' || true)
  [ -z "$hits" ] || report "$f" "allocating standard type (use the heap owners)" "$hits"
  case "$f" in
    */rules/*)
      hits=$(echo "$code" | grep -E '#include *<(windows|winbase|winnt|winreg|winuser|msi|msiquery|lm|lmuse|io|direct|process|aclapi)\.h>' || true)
      [ -z "$hits" ] || report "$f" "Windows header in platform-free code" "$hits"
      ;;
  esac
done

if [ "$failures" -ne 0 ]; then
  echo "house rules: $failures finding(s)"
  exit 1
fi
echo "house rules: ${#files[@]} files checked"
