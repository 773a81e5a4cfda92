#!/usr/bin/env bash
# The main job: shows the product's bin directory as built. (Becomes a launcher run on the
# stand-in JVM once the launchers exist.)
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== out/bin (the product's bin directory)"
ls -l out/bin 2>/dev/null || echo "(nothing staged yet)"
