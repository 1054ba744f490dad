#!/usr/bin/env bash
# End-to-end test of scripts/run_experiments on tiny data: 3 surfaces of 32x32
# pixels and the 5x5 Laws bank, in a temporary folder.
#   tests/test_run_experiments.sh RUNNER BIN_DIR
# Exits 0 when every check passes, 77 (skipped) when GNU parallel or gnuplot
# is missing, 1 on the first failed check.
set -euo pipefail

runner=$1
bin=$2
scripts=$(dirname "$runner")
names=(aaa aab aaj)

for tool in parallel gnuplot; do
  command -v "$tool" >/dev/null || {
    echo "SKIP: $tool is not installed (scripts/install_dependencies)"
    exit 77
  }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/test_run_experiments.XXXXXX")
trap 'rm -rf -- "$tmp"' EXIT
ws=$tmp/ws
res=$tmp/results
log=$tmp/log

fail() {
  echo "FAIL: $*"
  if [[ -f $log.out ]]; then
    echo "--- standard output of the last run"
    cat "$log.out"
    echo "--- standard error of the last run"
    cat "$log.err"
  fi
  exit 1
}

# run [OPTION...]: runs the runner on the tiny data; leaves its status in $status.
run() {
  status=0
  "$runner" --bin-dir "$bin" --workspace "$ws" --results "$res" --surfaces 3 --size 32 \
    --bank laws --jobs 2 "$@" >"$log.out" 2>"$log.err" || status=$?
}

expect_status() { [[ $status == "$1" ]] || fail "expected exit status $1, got $status"; }
expect_output() { grep -qF -- "$1" "$log.out" "$log.err" || fail "the output does not say '$1'"; }
mtime() { stat -c %y -- "$1"; }

# The LaTeX table without its comment lines must be exactly the tabular with
# a header row and, in table order, each surface's row as its program printed it.
check_tex() {
  local kind=$1 dir_of=$2 n i lines
  shift 2
  local expected=('\begin{tabular}{lccc}' '\toprule' 'header' '\midrule')
  for n in "$@"; do expected+=("$(<"$ws/runs/$($dir_of "$n")/stdout.txt")"); done
  expected+=('\bottomrule' '\end{tabular}')
  mapfile -t lines < <(grep -v '^%' "$res/$kind.tex")
  ((${#lines[@]} == ${#expected[@]})) || fail "$kind.tex has ${#lines[@]} table lines, expected ${#expected[@]}"
  [[ ${lines[2]} == "Surface & "*" \\\\" ]] || fail "$kind.tex header row: '${lines[2]}'"
  for i in "${!expected[@]}"; do
    ((i == 2)) || [[ ${lines[i]} == "${expected[i]}" ]] ||
      fail "$kind.tex table line $i is '${lines[i]}', expected '${expected[i]}'"
  done
}

classify_dir() {
  local k
  for k in "${!names[@]}"; do [[ ${names[k]} == "$1" ]] && printf 'classify/%02d' "$k"; done
}
direction_dir() { printf 'direction/%s' "$1"; }

# Puts the CSV fields of a row back into the programs' row format.
csv_to_rows() {
  case $1 in
    classification) awk -F, '{ print $1 "&" $2 "&" $3 "&" $4 " \\ " $5 "\\\\" }' ;;
    direction) awk -F, '{ print $1 "&" $2 "~/~" $3 "&" $4 "~/~" $5 "&" $6 "~/~" $7 "\\\\" }' ;;
  esac
}

# Rebuilding each LaTeX row from its CSV fields must give the row back, so
# the CSV holds every figure, split at the right places.
check_csv() {
  local kind=$1 header=$2 columns=$3
  shift 3
  [[ $(head -n 1 "$res/$kind.csv") == "$header" ]] || fail "$kind.csv header: $(head -n 1 "$res/$kind.csv")"
  awk -F, -v n="$columns" 'NR > 1 && NF != n { exit 1 }' "$res/$kind.csv" || fail "$kind.csv: a row has not $columns fields"
  diff <(tail -n +2 "$res/$kind.csv" | csv_to_rows "$kind") \
    <(grep -v '^%' "$res/$kind.tex" | sed -n '/^\\midrule$/,/^\\bottomrule$/p' | sed '1d;$d') >/dev/null ||
    fail "$kind.csv does not hold the figures of $kind.tex"
  [[ $(tail -n +2 "$res/$kind.csv" | cut -d, -f1 | paste -sd' ') == "$*" ]] || fail "$kind.csv surfaces are not $*"
}

check_results() { # check_results SURFACE...: the surfaces whose rows must be there
  check_tex classification classify_dir "$@"
  check_tex direction direction_dir "$@"
  check_csv classification surface,share_correct,share_top3,distance_mean,distance_sd 5 "$@"
  check_csv direction \
    surface,hits_15deg,hits_15deg_or_twin,better_share_mean,better_share_sd,ratio_mean,ratio_sd 7 "$@"
  grep -q '<svg' "$res/summary.svg" || fail "summary.svg is not an SVG figure"
  [[ -z $(find "$res" -name '.*') ]] || fail "temporary files left in $res: $(find "$res" -name '.*')"
}

# --- The scripts parse, and pass shellcheck where it is installed.
for f in "$runner" "$0"; do bash -n "$f" || fail "bash -n $f"; done
if command -v shellcheck >/dev/null; then shellcheck "$runner" "$0" || fail "shellcheck"; fi
[[ -f $scripts/experiment_tables.awk && -f $scripts/summary_figure.gnuplot ]] || fail "helpers missing in $scripts"

# --- A wrong command line is refused before anything is made.
status=0
"$runner" --bin-dir "$bin" --workspace "$ws" --surfaces 21 >"$log.out" 2>"$log.err" || status=$?
expect_status 2
[[ ! -e $ws/data ]] || fail "a refused command line made data"

# --- First run: everything is made and every run succeeds.
run
expect_status 0
check_results "${names[@]}"
expect_output "mean share correct"
expect_output "of 36 estimates within 15 degrees"
expect_output "Timings: build"
image=$ws/data/aab/aab1/aab_45_30.pgm
[[ -f $image ]] || fail "no image $image"
cp "$res/classification.tex" "$tmp/first.tex"
image_time=$(mtime "$image") bank_time=$(mtime "$ws/filters.dat") db_time=$(mtime "$ws/test20.dat")

# --- Second run, through a stand-in for ssh: data, bank and database are reused.
cat >"$tmp/fake_ssh" <<'EOF'
#!/bin/sh
# Stands in for ssh: drops the host and runs the command here, with the
# SHELL that a login on the remote machine would set (GNU parallel's remote
# wrapper execs $SHELL, and CI may run without one).
export SHELL="${SHELL:-/bin/sh}"
shift
[ "$1" = "--" ] && shift
exec sh -c "$*"
EOF
chmod +x "$tmp/fake_ssh"
echo "2/$tmp/fake_ssh stand-in-host" >"$tmp/machines"
run --sshloginfile "$tmp/machines"
expect_status 0
[[ $(mtime "$image") == "$image_time" ]] || fail "the second run generated the images again"
[[ $(mtime "$ws/filters.dat") == "$bank_time" ]] || fail "the second run made the bank again"
[[ $(mtime "$ws/test20.dat") == "$db_time" ]] || fail "the second run built the database again"
expect_output "data: reusing"
[[ $(cut -f2 "$ws/runs/joblog.txt" | tail -n +2 | sort -u) == "$tmp/fake_ssh stand-in-host" ]] ||
  fail "the runs did not go through the --sshloginfile machines"
cmp -s "$tmp/first.tex" "$res/classification.tex" || fail "the same inputs gave another table"
check_results "${names[@]}"

# --- Another seed: the data and the database are made again, the bank kept.
cp "$image" "$tmp/seed1.pgm"
run --seed 2
expect_status 0
cmp -s "$tmp/seed1.pgm" "$image" && fail "another seed did not regenerate the images"
[[ $(mtime "$ws/filters.dat") == "$bank_time" ]] || fail "another seed made the bank again"
[[ $(mtime "$ws/test20.dat") != "$db_time" ]] || fail "new images did not rebuild the database"

# --- One's own bank is used as it is, and the database is rebuilt for it.
"$bin/generate_filters" --bank gabor --scales 3 --orientations 2 --output "$ws/filters.dat" >/dev/null 2>&1 ||
  fail "generate_filters could not write a bank"
own_bank=$(sha256sum <"$ws/filters.dat")
db_time=$(mtime "$ws/test20.dat")
run --seed 2
expect_status 0
expect_output "bank: using"
[[ $(sha256sum <"$ws/filters.dat") == "$own_bank" ]] || fail "one's own bank was replaced"
[[ $(mtime "$ws/test20.dat") != "$db_time" ]] || fail "a new bank did not rebuild the database"

# --- A missing image fails the runs of its surface only, named in the report.
rm -- "$image"
run --seed 2
expect_status 1
grep -q "FAILED: classification of aab" "$log.err" || fail "the classification failure of aab is not reported"
grep -q "FAILED: direction of aab" "$log.err" || fail "the direction failure of aab is not reported"
grep -q "aab_45_30.pgm" "$log.err" || fail "the report does not show the run's standard error"
[[ $(grep -c FAILED: "$log.err") == 2 ]] || fail "other runs than those of aab failed"
grep -q '^% aab: ' "$res/classification.tex" || fail "classification.tex does not mark aab as missing"
check_results aaa aaj

echo "PASS: run_experiments (6 runs)"
