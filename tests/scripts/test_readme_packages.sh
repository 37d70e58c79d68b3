#!/usr/bin/env bash
# README.md lists exactly the Debian packages ./run and ./test install (the lists
# in scripts/lib/setup.sh), so that its set-up table cannot drift from them.
# Usage: test_readme_packages.sh SOURCE_DIR
set -euo pipefail
cd "$1"
source scripts/lib/setup.sh

# The packages in the README's table row of a command, one per line, sorted.
listed() {
  grep -F "| \`$1\` |" README.md | awk -F'|' '{print $3}' | tr -d '`' |
    sed 's/those of \.\/run, and//' | tr ' ,' '\n\n' | grep -v '^$' | sort -u
}
sorted() { printf '%s\n' "$@" | sort -u; }

status=0
extra=$(comm -13 <(sorted "${FX60_RUN_PACKAGES[@]}") <(sorted "${FX60_TEST_PACKAGES[@]}"))
if ! diff <(sorted "${FX60_RUN_PACKAGES[@]}") <(listed ./run); then
  echo "README.md's ./run row differs from FX60_RUN_PACKAGES (< script, > README)"
  status=1
fi
if ! diff <(echo "$extra") <(listed ./test); then
  echo "README.md's ./test row differs from what FX60_TEST_PACKAGES adds (< script, > README)"
  status=1
fi
exit $status
