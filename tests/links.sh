#!/usr/bin/env bash
# links.sh ROOT: every relative link of the repository's Markdown files
#   (README.md, docs/*.md and any other *.md outside the build and run
#   folders) names a file or folder that exists, relative to the file that
#   holds the link; a link with a #fragment into a Markdown file names a
#   heading of that file.
# A heading's fragment follows GitHub's rule: the heading's text in lower
# case, every character but letters, digits, spaces, "-" and "_" removed,
# each space made a "-"; a repeated heading gets "-1", "-2"... Links are
# inline ones, [text](target) and ![alt](target); text in code spans,
# fenced code blocks and indented code blocks is not read; a target with a
# scheme (https:, mailto:) is not checked.
# Prints one line per broken link, FILE:LINE: the link and what is wrong,
# and exits 1 if there is any; exits 0 otherwise.
set -euo pipefail
root=${1:-}
if [[ -z "$root" || ! -d "$root" ]]; then
  echo "usage: $0 ROOT" >&2
  exit 2
fi
cd "$root"

# FILE:LINE<tab>TARGET for every inline link of the files given.
extract_links() {
  awk '
    FNR == 1 { fence = 0; code = 0; span = 0; blank = 1 }
    /^[ ]*```/ { fence = !fence; blank = 0; next }
    fence { next }
    /^[ ]*$/ { blank = 1; code = 0; span = 0; next }
    /^(    |\t)/ && (blank || code) { code = 1; next }
    {
      blank = 0; code = 0
      # Drop code spans (single backticks, which may run on over lines of
      # a paragraph).
      text = ""
      for (i = 1; i <= length($0); i++) {
        c = substr($0, i, 1)
        if (c == "`") span = !span
        else if (!span) text = text c
      }
      while (match(text, /\]\([^)]*\)/)) {
        target = substr(text, RSTART + 2, RLENGTH - 3)
        text = substr(text, RSTART + RLENGTH)
        sub(/^[ ]*</, "", target); sub(/>[ ]*$/, "", target)
        sub(/[ ]+"[^"]*"[ ]*$/, "", target)  # a title
        printf "%s:%d\t%s\n", FILENAME, FNR, target
      }
    }' "$@"
}

# The fragments of the headings of a Markdown file, one a line.
heading_anchors() {
  awk '
    /^[ ]*```/ { fence = !fence; next }
    fence { next }
    /^#+[ ]/ && match($0, /^#+/) && RLENGTH <= 6 {
      h = $0
      sub(/^#+[ ]+/, "", h); sub(/[ ]+#+[ ]*$/, "", h); sub(/[ ]+$/, "", h)
      h = tolower(h)
      a = ""
      for (i = 1; i <= length(h); i++) {
        c = substr(h, i, 1)
        if (c ~ /[a-z0-9_-]/) a = a c
        else if (c == " ") a = a "-"
      }
      if (a in seen) { n = seen[a]++; print a "-" n } else { seen[a] = 1; print a }
    }' "$1"
}

files=()
while IFS= read -r -d '' f; do
  files+=("${f#./}")
done < <(find . \( -path './build*' -o -path ./workspace -o -path ./results -o -path ./.git \) \
  -prune -o -type f -name '*.md' -print0 | sort -z)
if ((${#files[@]} == 0)); then
  echo "links.sh: no Markdown file found in $root" >&2
  exit 1
fi

declare -A anchors
checked=0
broken=0
while IFS=$'\t' read -r where target; do
  file=${where%:*}
  checked=$((checked + 1))
  case "$target" in
    [a-zA-Z]*:*) continue ;;  # https:, mailto: ...
  esac
  path=${target%%#*}
  fragment=""
  if [[ "$target" == *"#"* ]]; then fragment=${target#*#}; fi
  if [[ -z "$path" ]]; then
    resolved=$file
  else
    folder=$(dirname "$file")
    resolved=$path
    if [[ "$folder" != . ]]; then resolved=$folder/$path; fi
    if [[ ! -e "$resolved" ]]; then
      echo "$where: broken link ($target): $resolved does not exist"
      broken=$((broken + 1))
      continue
    fi
  fi
  if [[ -n "$fragment" && "$resolved" == *.md && -f "$resolved" ]]; then
    key=$(realpath -m "$resolved")
    if [[ -z "${anchors[$key]+set}" ]]; then
      anchors[$key]=$'\n'$(heading_anchors "$resolved")$'\n'
    fi
    if [[ "${anchors[$key]}" != *$'\n'"$fragment"$'\n'* ]]; then
      echo "$where: broken link ($target): no heading of ${path:-$file} makes #$fragment"
      broken=$((broken + 1))
    fi
  fi
done < <(extract_links "${files[@]}")

if ((broken > 0)); then
  echo "links.sh: $broken of $checked links broken in ${#files[@]} Markdown files" >&2
  exit 1
fi
echo "links.sh: $checked links in ${#files[@]} Markdown files, all resolve"
