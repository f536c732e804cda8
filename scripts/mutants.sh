#!/bin/sh
# Mutation check: does each test catch the one-line fault it is meant to catch?
# Applies every fault of scripts/mutants.list, one at a time, to a scratch copy of
# the tree (build/mutants/tree), rebuilds its host preset, runs the tests the fault
# names and prints "caught" or "MISSED". A fault whose text no longer stands exactly
# once in its file, or that does not build, is an error of the list. Not part of the
# test command: it takes many minutes.
#   scripts/mutants.sh            every fault of the list
#   scripts/mutants.sh WORDS      only the faults whose name holds WORDS
set -e
cd "$(dirname "$0")/.."
list=scripts/mutants.list
scratch=build/mutants
tree=$scratch/tree
only=${1:-}

./scripts/deps.sh tests
mkdir -p "$tree"
# The tree as it stands, uncommitted changes included; unchanged files keep their
# times, so the scratch build only redoes what changed since the last run.
git ls-files -z --cached --others --exclude-standard |
    tar --null --files-from=- --ignore-failed-read -cf - | tar -C "$tree" -xf -
(cd "$tree" && cmake --preset host >/dev/null && cmake --build --preset host >/dev/null)
# Every fault must meet a suite that passes without it.
(cd "$tree" && ctest --preset host -j2) >"$scratch/test.log" 2>&1 ||
    { echo "The tests fail without any fault: see $scratch/test.log" >&2; exit 1; }

# perl reads the texts as they are: no character of the code is special to it.
count_of() { # file text
    TEXT=$2 perl -0777 -ne '$n = () = /\Q$ENV{TEXT}\E/g; print $n' "$1"
}
replace_in() { # file text fault
    TEXT=$2 FAULT=$3 perl -0777 -pi -e 's/\Q$ENV{TEXT}\E/$ENV{FAULT}/' "$1"
}

caught=0 missed=0 broken=0
report() { # verdict
    printf '%-8s %s\n' "$1" "$name"
}
try_fault() {
    case "$name" in *"$only"*) ;; *) return 0 ;; esac
    target=$tree/$file
    if [ ! -f "$target" ] || [ "$(count_of "$target" "$text")" != 1 ]; then
        report "NO TEXT"; broken=$((broken + 1)); return 0
    fi
    cp -p "$target" "$scratch/saved"
    replace_in "$target" "$text" "$fault"
    if ! (cd "$tree" && cmake --build --preset host) >"$scratch/build.log" 2>&1 </dev/null; then
        report "NO BUILD"; broken=$((broken + 1))
    elif (cd "$tree" && ctest --preset host -j2 --timeout 300 -R "$tests") >"$scratch/test.log" 2>&1 </dev/null; then
        report "MISSED"; missed=$((missed + 1))
    else
        report "caught"; caught=$((caught + 1))
    fi
    # Back to the right text, with a new time so the next build compiles it again.
    cp "$scratch/saved" "$target"
    touch "$target"
}

# Records of "key: value" lines (name, file, text, fault, tests), one blank line apart.
name="" file="" text="" fault="" tests=""
flush() {
    if [ -n "$name" ]; then try_fault; fi
    name="" file="" text="" fault="" tests=""
}
while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in
        "#"*) ;;
        "") flush ;;
        "name: "*) name=${line#name: } ;;
        "file: "*) file=${line#file: } ;;
        "text: "*) text=${line#text: } ;;
        "fault: "*) fault=${line#fault: } ;;
        "tests: "*) tests=${line#tests: } ;;
        *) echo "$list: cannot read: $line" >&2; exit 2 ;;
    esac
done <"$list"
flush
(cd "$tree" && cmake --build --preset host >/dev/null)

echo "Faults caught: $caught, missed: $missed, list errors: $broken"
[ "$missed" -eq 0 ] && [ "$broken" -eq 0 ]
