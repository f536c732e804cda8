#!/bin/sh
# Non-blank lines of C and C++ in tests/ against those of the code they test:
# src/, platform/, sim/ and tools/, as git tracks them.
cd "$(dirname "$0")/.."
lines() {
    for folder; do git ls-files -z "$folder/*.c" "$folder/*.cpp" "$folder/*.h"; done |
        xargs -0 cat | grep -cv '^[[:space:]]*$'
}
tests=$(lines tests)
code=$(lines src platform sim tools)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d, code %d: %.1f%%\n", t, c, 100 * t / c }'
