#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the optimised build first (all
# labels), then the fuzz runs and the sanitizer build for the unit-test layers (those two trees
# build while the optimised tree's tests run).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Where the time goes, one line per step, so a slow run shows which step grew.
mark() { echo "test.sh: $1 done at $SECONDS s" >&2; }
"$root/scripts/setup.sh"
mark setup

"$root/scripts/build.sh" release
mark "release build"
# The fuzz and sanitizer trees build meanwhile, on the CPU the tests leave idle: most lab tests
# wait on the cameras' clocks. Under SCHED_IDLE the compilers get a core only while no test
# wants it, so the tests run as they would alone.
# Where SCHED_IDLE cannot be had, the lowest nice value.
idle=(chrt --idle 0)
"${idle[@]}" true 2>/dev/null || idle=(nice -n 19)
mkdir -p "$root/build"
later_log=$root/build/test-later-builds.log
# A session of its own, so that a failed run stops the compilers too, not only their parent.
setsid "${idle[@]}" bash -c '"$1" fuzz && "$1" asan' _ "$root/scripts/build.sh" >"$later_log" 2>&1 &
later=$!
trap 'kill -- -"$later" 2>/dev/null' EXIT
(cd "$root/build/release" && ctest --output-on-failure -j"$(nproc)" --timeout 300)
mark "release tests"
# The packages from the release tree's build: contents and validators, then an install into a
# throwaway root used by an unprivileged user in the lab, and a purge.
cmake --build "$root/build/release" --target package >/dev/null
"$root/tests/packaging/check-packages.sh" "$root/build/release/packages"
# 77: no lab on this machine, skipped as ctest skips the lab tests.
"$root/tests/packaging/install-test.sh" "$root/build/release/packages" "$root/build/release/packages" ||
  { rc=$?; ((rc == 77)) || exit $rc; echo "test.sh: install test skipped: no lab here" >&2; }
mark packages
"$root/scripts/tidy.sh"
mark tidy

wait "$later" || { tail -n 50 "$later_log" >&2; echo "test.sh: the fuzz or sanitizer build failed ($later_log)" >&2; exit 1; }
trap - EXIT
mark "fuzz and sanitizer builds"
# Short libFuzzer runs of the network parsers (tens of seconds; longer runs: see fuzz/README.md).
(cd "$root/build/fuzz" && ctest --output-on-failure -j"$(nproc)" -L '^fuzz$')
mark "fuzz runs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
(cd "$root/build/asan" && ctest --output-on-failure -j"$(nproc)" --timeout 300 -LE '^(lab|e2e)$')
mark "sanitizer tests"
# The desktop client closed while a camera streams, under the sanitizers.
(cd "$root/build/asan" && LIVE_FAULTS_CLOSE_ONLY=1 LSAN_OPTIONS="suppressions=$root/tests/ui/lsan-desktop.supp" \
  ctest --output-on-failure --timeout 300 -R '^ui_live_faults_lab$')
mark "desktop close under the sanitizers"
# The five-minute soak again in the sanitizer tree: every process of the rig under faults, and
# their leak checks at exit (its memory slopes are not judged there). That tree has no
# benchmarks, so the rig is run as by hand; 77: no lab on this machine.
"$root/scripts/lab/lab-run.sh" --cameras 5 --camera-addrs 40 -- \
  "$root/bench/soak/soak.sh" "$root/build/asan" "$root/data" 5 ||
  { rc=$?; ((rc == 77)) || exit $rc; echo "test.sh: soak under the sanitizers skipped: no lab here" >&2; }
mark "soak under the sanitizers"
