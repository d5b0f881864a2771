#!/usr/bin/env bash
# Builds the native and the Windows trees and runs every test: the native
# ones with AddressSanitizer and UndefinedBehaviorSanitizer, the Windows ones
# under Wine on an X server of our own. Ends with one line of totals.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# Each step says how long it took, so that a slow run shows where.
step() {
    local name=$1 start=$SECONDS
    shift
    announce "$name" "$@" || { echo "$name failed" >&2; exit 1; }
    echo "== $name: $((SECONDS - start)) s"
}
step "the machine's set-up (packages, expat's source, locales)" prepare_machine
step "native build" build_native
step "Windows build" build_windows
step "optimised build" build_optimised
step "hardening-check on the optimised korvat-cli" check_hardening

trap stop_xvfb EXIT
start_xvfb || exit 1

status=0
start=$SECONDS
echo "== native tests"
# The lease test runs the optimised korvat-cli as well as the sanitized one.
export KORVAT_OPTIMISED_CLI=$KORVAT_BUILD/optimised/korvat-cli
(cd "$KORVAT_BUILD/native" && ctest --output-on-failure -j "$(nproc)") || status=1
echo "== native tests: $((SECONDS - start)) s"
start=$SECONDS
echo "== Windows tests under Wine"
# Side by side where they can: the tests that put windows on the display
# take it in turns (their RESOURCE_LOCK), the rest run beside them.
(cd "$KORVAT_BUILD/windows" && ctest --output-on-failure -j "$(($(nproc) + 1))") || status=1
echo "== Windows tests: $((SECONDS - start)) s"

# Totals over the test cases of both trees, from GoogleTest's own summaries.
passed=0
failed=0
skipped=0
for tree in native windows; do
    log=$KORVAT_BUILD/$tree/Testing/Temporary/LastTest.log
    [ -f "$log" ] || continue
    tree_passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log" | awk '{ s += $1 } END { print s + 0 }')
    tree_failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below.*/\1/p' "$log" | awk '{ s += $1 } END { print s + 0 }')
    # GoogleTest's summary line of skipped tests ends in ", listed below:"
    # or, with --gtest_brief, in a full stop.
    tree_skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}[.,].*/\1/p' "$log" | awk '{ s += $1 } END { print s + 0 }')
    # The end-to-end scenarios count their own checks.
    e2e_checks=$(sed -n 's/^[a-z]*: \([0-9]*\) checks, [0-9]* failed$/\1/p' "$log" | awk '{ s += $1 } END { print s + 0 }')
    e2e_failed=$(sed -n 's/^[a-z]*: [0-9]* checks, \([0-9]*\) failed$/\1/p' "$log" | awk '{ s += $1 } END { print s + 0 }')
    tree_passed=$((${tree_passed:-0} + e2e_checks - e2e_failed))
    tree_failed=$((${tree_failed:-0} + e2e_failed))
    echo "$tree: ${tree_passed} test cases and checks passed, ${tree_failed} failed, ${tree_skipped:-0} skipped"
    passed=$((passed + ${tree_passed:-0}))
    failed=$((failed + ${tree_failed:-0}))
    skipped=$((skipped + ${tree_skipped:-0}))
done
[ "$status" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
