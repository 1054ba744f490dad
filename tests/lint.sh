#!/usr/bin/env bash
# lint.sh format ROOT: every C++ file of the repository (*.cpp, *.h; the
#   tracked ones in a git checkout) is formatted as .clang-format says;
# lint.sh shell ROOT: every shell script (scripts/ with a shell #! line,
#   tests/*.sh and tests/*/*.sh, .ci/run) is clean for shellcheck.
# Prints the offending lines and exits 1 on a finding; exits 77 (skipped)
# when the tool is not installed (scripts/install_dependencies --tests).
set -euo pipefail
mode=${1:-}
root=${2:-}
if [[ -z "$root" || ! -d "$root" ]] || [[ "$mode" != format && "$mode" != shell ]]; then
  echo "usage: $0 format|shell ROOT" >&2
  exit 2
fi
cd "$root"

tool=clang-format
if [[ "$mode" == shell ]]; then tool=shellcheck; fi
if ! command -v "$tool" >/dev/null; then
  echo "SKIP: $tool is not installed (scripts/install_dependencies --tests)"
  exit 77
fi

files=()
if [[ "$mode" == format ]]; then
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    while IFS= read -r -d '' f; do
      [[ -f "$f" ]] && files+=("$f")
    done < <(git ls-files -z -- '*.cpp' '*.h')
  else  # not a git checkout: every file but the build and run folders
    while IFS= read -r -d '' f; do
      files+=("$f")
    done < <(find . \( -path './build*' -o -path ./workspace -o -path ./results -o -path ./.git \) \
      -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print0)
  fi
  if ((${#files[@]} == 0)); then
    echo "lint.sh: no C++ file found in $root" >&2
    exit 1
  fi
  echo "clang-format: ${#files[@]} files"
  clang-format --dry-run -Werror --style=file "${files[@]}"
else
  for f in scripts/* tests/*.sh tests/*/*.sh .ci/run; do
    if [[ -f "$f" ]] && head -n 1 "$f" | grep -qE '^#!.*\b(ba|da|k)?sh\b'; then files+=("$f"); fi
  done
  if ((${#files[@]} == 0)); then
    echo "lint.sh: no shell script found in $root" >&2
    exit 1
  fi
  echo "shellcheck: ${files[*]}"
  shellcheck "${files[@]}"
fi
