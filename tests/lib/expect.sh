# The check the shell tests share, sourced: expect WHAT ACTUAL EXPECTED
# counts a check, and a failure with both values on standard error.
checks=0
failures=0
expect() {
    checks=$((checks + 1))
    if [ "$2" != "$3" ]; then
        failures=$((failures + 1))
        printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$3" "$2" >&2
    fi
}
