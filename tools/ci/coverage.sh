#!/usr/bin/env bash
# Line coverage of the logic (Tovrin/, migration/, libvelkras2/) by the host
# tests: builds the coverage preset, runs its tests, and prints one line
#   coverage: Tovrin 87.1% (1234/1417 lines), migration ..., logic total ...
# The Windows-only sources are not built on the host and are not counted.
# Exit 1 when gcovr is missing, the build fails or a test fails (the figure
# is still printed).
set -eu
cd "$(dirname "$0")/../.."
jobs=${VELK_JOBS:-2}
build=build/coverage

command -v gcovr >/dev/null || {
  echo "coverage: gcovr is not installed (tools/ci/deps.sh all installs it)" >&2
  exit 1
}
cmake --preset coverage >/dev/null
cmake --build "$build" -j"$jobs"
# Counts left by an earlier run would add to this one's.
find "$build" -name '*.gcda' -delete
rc=0
(cd "$build" && ctest --output-on-failure -j"$jobs") || rc=1

gcovr --root . --object-directory "$build" -j"$jobs" \
  --filter "$PWD/(Tovrin|migration|libvelkras2)/" \
  --json-summary "$build/coverage.json" >/dev/null
python3 - "$build/coverage.json" <<'EOF'
import json, sys

totals = {}
for f in json.load(open(sys.argv[1]))["files"]:
    folder = f["filename"].split("/")[0]
    covered, total = totals.get(folder, (0, 0))
    totals[folder] = (covered + f["line_covered"], total + f["line_total"])

def figure(name, covered, total):
    pct = 100.0 * covered / total if total else 0.0
    return f"{name} {pct:.1f}% ({covered}/{total} lines)"

parts = [figure(d, *totals.get(d, (0, 0))) for d in ("Tovrin", "migration", "libvelkras2")]
covered = sum(c for c, _ in totals.values())
total = sum(t for _, t in totals.values())
print("coverage: " + ", ".join(parts) + ", " + figure("logic total", covered, total))
if total == 0:
    sys.exit("coverage: no lines of the logic were found")
EOF
exit $rc
