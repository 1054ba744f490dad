#!/usr/bin/env bash
# End-to-end test of scripts/run_experiments, in a temporary folder.
#   tests/test_run_experiments.sh RUNNER BIN_DIR
# First with the programs built here on tiny data (3 surfaces of 32x32 pixels
# and the 5x5 Laws bank: partial runs), then with stand-ins of the programs
# that make up their rows at once, for what complete runs, failed jobs, a
# failing figure, signals, locks and unusable machines do to the results.
# Exits 0 when every check passes, 77 (skipped) when GNU parallel or gnuplot
# is missing, 1 on the first failed check.
set -euo pipefail

runner=$1
bin=$2
scripts=$(dirname "$runner")
names=(aaa aab aaj)

for tool in parallel gnuplot flock; do
  command -v "$tool" >/dev/null || {
    echo "SKIP: $tool is not installed (scripts/install_dependencies)"
    exit 77
  }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/test_run_experiments.XXXXXX")
trap 'rm -rf -- "$tmp"' EXIT
ws=$tmp/ws
tables=$ws/partial # the tables the checks below look at: those of a partial run
log=$tmp/log
runs=0

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
# The options in $making say what to make; a run on files of one's own clears it.
making=(--size 32 --bank laws)
run() {
  status=0
  runs=$((runs + 1))
  "$runner" --bin-dir "$bin" --workspace "$ws" --surfaces 3 "${making[@]}" --jobs 2 "$@" \
    >"$log.out" 2>"$log.err" || status=$?
}

expect_status() { [[ $status == "$1" ]] || fail "expected exit status $1, got $status"; }
expect_output() { grep -qF -- "$1" "$log.out" "$log.err" || fail "the output does not say '$1'"; }
mtime() { stat -c %y -- "$1"; }
# No private folder of the runner is left anywhere.
expect_clean() {
  [[ -z $(find "$@" -name '.run_experiments.*') ]] || fail "temporary files left: $(find "$@" -name '.run_experiments.*')"
}

# The LaTeX table without its comment lines must be exactly the tabular with
# a header row and, in table order, each surface's row as its program printed it.
check_tex() {
  local kind=$1 dir_of=$2 n i lines
  shift 2
  local expected=('\begin{tabular}{lccc}' '\toprule' 'header' '\midrule')
  for n in "$@"; do expected+=("$(<"$ws/runs/$($dir_of "$n")/stdout.txt")"); done
  expected+=('\bottomrule' '\end{tabular}')
  mapfile -t lines < <(grep -v '^%' "$tables/$kind.tex")
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
  [[ $(head -n 1 "$tables/$kind.csv") == "$header" ]] || fail "$kind.csv header: $(head -n 1 "$tables/$kind.csv")"
  awk -F, -v n="$columns" 'NR > 1 && NF != n { exit 1 }' "$tables/$kind.csv" || fail "$kind.csv: a row has not $columns fields"
  diff <(tail -n +2 "$tables/$kind.csv" | csv_to_rows "$kind") \
    <(grep -v '^%' "$tables/$kind.tex" | sed -n '/^\\midrule$/,/^\\bottomrule$/p' | sed '1d;$d') >/dev/null ||
    fail "$kind.csv does not hold the figures of $kind.tex"
  [[ $(tail -n +2 "$tables/$kind.csv" | cut -d, -f1 | paste -sd' ') == "$*" ]] || fail "$kind.csv surfaces are not $*"
}

# check_results SURFACE...: the tables in $tables hold the rows of these
# surfaces; with FIGURE=no there must be no figure.
check_results() {
  check_tex classification classify_dir "$@"
  check_tex direction direction_dir "$@"
  check_csv classification surface,share_correct,share_top3,distance_mean,distance_sd 5 "$@"
  check_csv direction \
    surface,hits_15deg,hits_15deg_or_twin,better_share_mean,better_share_sd,ratio_mean,ratio_sd 7 "$@"
  if [[ ${FIGURE:-yes} == yes ]]; then
    grep -q '<svg' "$tables/summary.svg" || fail "summary.svg is not an SVG figure"
  else
    [[ ! -e $tables/summary.svg ]] || fail "a figure was left in $tables"
  fi
  expect_clean "$ws" "$tables"
}

# --- The scripts parse, and pass shellcheck where it is installed.
for f in "$runner" "$0"; do bash -n "$f" || fail "bash -n $f"; done
if command -v shellcheck >/dev/null; then shellcheck "$runner" "$0" || fail "shellcheck"; fi
[[ -f $scripts/summary_figure.gnuplot ]] || fail "the figure's script is missing in $scripts"

# --- A wrong command line is refused before anything is made.
status=0
"$runner" --bin-dir "$bin" --workspace "$ws" --surfaces 21 >"$log.out" 2>"$log.err" || status=$?
expect_status 2
for wrong in "--train-set 1" "--manifest $0 --seed 2" "--space 8,40,41,1,1,2,1" "--srgb" "--y-up" \
  "--bank laws --filters $0"; do
  # shellcheck disable=SC2086 # the options as words
  "$runner" --bin-dir "$bin" --workspace "$ws" $wrong >"$log.out" 2>"$log.err" || status=$?
  expect_status 2
done
[[ ! -e $ws/data ]] || fail "a refused command line made data"

# --- First run: everything is made and every run succeeds. Three surfaces
# are a partial run: its tables go to the workspace's partial/, and the
# workspace's results/ (the default for --workspace) stays empty.
run
expect_status 0
check_results "${names[@]}"
expect_output "mean share correct"
expect_output "of 36 estimates within 15 degrees"
expect_output "Timings: build"
expect_output "a partial run (3 of 20 surfaces): its tables are in $tables"
[[ -d $ws/results && -z $(ls -A "$ws/results") ]] || fail "a partial run wrote to $ws/results"
image=$ws/data/aab/aab1/aab_45_30.pgm
[[ -f $image ]] || fail "no image $image"
# Beside the tables, the per-image results of the generated manifest: each
# surface's 36 test images and 12 lights, a confusion matrix whose rows sum
# to the 36 and whose diagonal is the table's share correct of them.
[[ $(awk -F, 'NR > 1 { print $1 }' "$tables/classification_images.csv" | uniq -c | awk '{ print $1 }' | paste -sd' ') == "36 36 36" ]] ||
  fail "classification_images.csv does not hold the 36 test images of each surface"
[[ $(awk -F, 'NR > 1 { n++ } END { print n }' "$tables/direction_images.csv") == 36 ]] ||
  fail "direction_images.csv does not hold the 12 images of set 1 of each surface"
paste -d, <(tail -n +2 "$tables/confusion.csv") <(tail -n +2 "$tables/classification.csv") |
  awk -F, '{ sum = $2 + $3 + $4; d = $(NR + 1) - $6 * sum; if ($1 != $5 || sum != 36 || d > 0.5 || d < -0.5) exit 1 }' ||
  fail "the confusion matrix does not agree with classification.csv"
for f in confusion.svg directions.svg; do grep -q '<svg' "$tables/$f" || fail "$f is not an SVG figure"; done
cp "$tables/classification.tex" "$tmp/first.tex"
image_time=$(mtime "$image") bank_time=$(mtime "$ws/filters.dat") db_time=$(mtime "$ws/test20.dat")

# --- The generated data through its manifest: per-image jobs give tables
# equal to those of the programs' rows (their comments name the sets).
run --manifest "$ws/data/manifest.csv" --seed 1
expect_status 2
cp -r "$tables" "$tmp/rows"
status=0
"$runner" --bin-dir "$bin" --workspace "$ws" --jobs 2 --bank laws --manifest "$ws/data/manifest.csv" \
  >"$log.out" 2>"$log.err" || status=$?
expect_status 0
for kind in classification direction; do
  cmp -s "$tmp/rows/$kind.csv" "$ws/results/$kind.csv" || fail "$kind.csv from the per-image results differs"
  diff <(grep -v '^%' "$tmp/rows/$kind.tex") <(grep -v '^%' "$ws/results/$kind.tex") >/dev/null ||
    fail "$kind.tex from the per-image results differs"
done
# One job per surface gives what one run over the whole manifest gives.
(cd "$ws/runs/manifest_classify/0000" && "$bin/classify_images" --manifest "$ws/data/manifest.csv" \
  --database manifest.dat --sets 1,2,3 --jobs 1) >"$tmp/whole.csv" 2>/dev/null || fail "classify_images failed"
cmp -s "$tmp/whole.csv" "$ws/results/classification_images.csv" || fail "classification_images.csv is not the whole run's"

# --- A manifest of its own: names that need quoting in CSV and escaping in
# LaTeX, 8 lights at slant 50, three sets, the lights estimated on set 2.
# Tables, per-image results and the confusion matrix agree.
"$bin/generate_surfaces" --root "$tmp/own" --names aam,abk,aaj,aas,abj --sets 0,1,2 --slants 50 \
  --tilts 0,45,90,135,180,225,270,315 --size 24 --seed 3 >/dev/null 2>&1 || fail "generate_surfaces failed"
sed -e 's/^aam,/"wall, brick",/' -e 's/^abk,/b\&w_1 %x,/' "$tmp/own/data/manifest.csv" | grep -vE '^(aas|abj),' \
  >"$tmp/own/data/own.csv"
status=0
"$runner" --bin-dir "$bin" --workspace "$tmp/own" --jobs 2 --bank laws --manifest "$tmp/own/data/own.csv" \
  --direction-set 2 >"$log.out" 2>"$log.err" || status=$?
expect_status 0
own=$tmp/own/results
grep -qF 'b\&w\_1 \%x&' "$own/classification.tex" || fail "classification.tex does not escape the name"
grep -q '^% .*image sets 1,2)' "$own/classification.tex" || fail "classification.tex does not name the test sets"
[[ $(tail -n +2 "$own/direction.csv" | sed 's/^\("[^"]*"\|[^,]*\),.*/\1/' | paste -sd'|') == '"wall, brick"|b&w_1 %x|aaj' ]] ||
  fail "direction.csv names: $(cut -d, -f1 "$own/direction.csv" | paste -sd' ')"
plain() { sed -e 's/"wall, brick"/wall/g' "$@"; }
[[ $(plain "$own/classification_images.csv" | awk -F, 'NR > 1 { print $2 }' | sort | uniq -c | awk '{ print $1 }' | paste -sd' ') == "24 24" ]] ||
  fail "classification_images.csv does not hold the 8 images of each surface in sets 1 and 2"
[[ $(plain "$own/direction_images.csv" | awk -F, 'NR > 1 && $2 == 2 { n++ } END { print n }') == 24 ]] ||
  fail "direction_images.csv does not hold the 24 images of set 2"
# Row sums of the confusion matrix are the images classified, the diagonal
# the images classified correctly, as the table's share says.
paste -d, <(plain "$own/confusion.csv" | tail -n +2) <(plain "$own/classification.csv" | tail -n +2) |
  awk -F, '{ sum = $2 + $3 + $4; if (sum != 16 || sprintf("%.2f", $(NR + 1) / sum) != $6) exit 1 }' ||
  fail "the confusion matrix does not agree with classification.csv"
[[ $(plain "$own/classification_images.csv" | awk -F, 'NR > 1 && $1 == $4 { n++ } END { print n }') == \
  $(plain "$own/confusion.csv" | awk -F, 'NR > 1 { n += $(NR) } END { print n }') ]] ||
  fail "the confusion matrix's diagonal is not the count of correct images"
[[ $(plain "$own/direction_images.csv" | awk -F, 'NR > 1 && $11 < 15 { n++ } END { print n + 0 }') == \
  $(plain "$own/direction.csv" | awk -F, 'NR > 1 { n += $2 } END { print n }') ]] ||
  fail "direction.csv's hits are not those of direction_images.csv"
# The figures: one marker per estimate, the names escaped; what the results
# were made from in every table, in run.json and in the figures' titles.
[[ $(grep -cE '<circle [^>]*r="3.2"|<rect [^>]*width="6"|<path d=' "$own/directions.svg") == 27 ]] ||
  fail "directions.svg does not mark the 24 estimates (and the legend's 3)"
grep -qF '>b&amp;w_1 %x</text>' "$own/confusion.svg" || fail "confusion.svg does not name the surfaces"
grep -qF '>12</text>' "$own/confusion.svg" || fail "confusion.svg lacks the counts"
for f in classification.tex direction.tex confusion.svg directions.svg summary.svg run.json; do
  grep -qF "manifest $tmp/own/data/own.csv (3 surfaces, 72 images listed)" "$own/$f" || fail "$f does not name its data"
  grep -qF "bank laws (25 kernels of 5x5)" "$own/$f" || fail "$f does not name its bank"
done
grep -q '"commit": "[0-9a-f]\{12\}' "$own/run.json" || fail "run.json does not name the commit"
cp -r "$own" "$tmp/own_results"

# --- Photographs to label: a surface with test images only, named with a
# comma, quotes and spaces, and one with training images only. The run is
# complete. The first is classified: its 16 images are in
# classification_images.csv with no nearer and ratio, and in a confusion
# row of their own below the models; it has no table row and no direction
# job. The second is a model (a column, an empty row) with no job at all.
labelled='"new, ""odd"" one"'
{
  cat "$tmp/own/data/own.csv"
  grep -E '^aas,[12],' "$tmp/own/data/manifest.csv" | sed "s/^aas,/$labelled,/"
  grep -E '^abj,0,' "$tmp/own/data/manifest.csv" | sed 's/^abj,/spare model,/'
} >"$tmp/own/data/labelled.csv"
status=0
"$runner" --bin-dir "$bin" --workspace "$tmp/own" --jobs 2 --bank laws --manifest "$tmp/own/data/labelled.csv" \
  --direction-set 2 >"$log.out" 2>"$log.err" || status=$?
expect_status 0
grep -q "partial run" "$log.out" && fail "the run with surfaces without a model or tests is partial"
expect_output "labelled: 16 images of 1 surface without a model"
[[ $(grep -c "^$labelled,[12],.*,,\$" "$own/classification_images.csv") == 16 ]] ||
  fail "classification_images.csv does not hold the 16 labelled images with empty nearer and ratio"
[[ $(head -n 1 "$own/confusion.csv") == 'true\predicted,"wall, brick",b&w_1 %x,aaj,spare model' ]] ||
  fail "the confusion matrix's columns are not the four models: $(head -n 1 "$own/confusion.csv")"
[[ $(tail -n 2 "$own/confusion.csv" | paste -sd'|') =~ ^spare\ model,0,0,0,0\|$labelled,([0-9]+),([0-9]+),([0-9]+),([0-9]+)$ ]] ||
  fail "the confusion matrix does not end with the spare model's row and the labelled surface's"
((BASH_REMATCH[1] + BASH_REMATCH[2] + BASH_REMATCH[3] + BASH_REMATCH[4] == 16)) ||
  fail "the labelled surface's confusion row does not count its 16 images"
grep -qF 'font-style="italic">new, &quot;odd&quot; one</text>' "$own/confusion.svg" ||
  fail "confusion.svg does not draw the labelled surface's row apart"
for f in classification.csv direction.csv; do
  [[ $(tail -n +2 "$own/$f" | cut -c1-4 | paste -sd' ') == '"wal b&w_ aaj,' ]] ||
    fail "$f does not hold the rows of the three tested models alone"
done
# The lights of the three tested models are estimated as before, and no
# job ran for the labelled surface's lights or for the spare model.
for f in direction.csv direction_images.csv; do
  cmp -s "$tmp/own_results/$f" "$own/$f" || fail "$f changed with the labelled surface and the spare model"
done
[[ $(tail -n +2 "$tmp/own/runs/joblog.txt" | wc -l) == 7 ]] || fail "not 4 classification and 3 direction jobs"
[[ ! -e $tmp/own/runs/manifest_direction/0003 && ! -e $tmp/own/runs/manifest_classify/0004 ]] ||
  fail "a job ran for the labelled surface's lights or for the spare model"
grep -qF "(5 surfaces, 96 images listed), 1 without a model (labelled)" "$own/run.json" ||
  fail "run.json does not count the labelled surface"

# --- One's own bank file, another illumination space and the sRGB curve
# reach the commands (the per-image results are theirs) and the records.
"$bin/generate_filters" --bank gabor --scales 3 --orientations 2 --output "$tmp/bank.dat" >/dev/null 2>&1 ||
  fail "generate_filters could not write a bank"
space=24,30,60,6,0.9,1.1,2
status=0
"$runner" --bin-dir "$bin" --workspace "$tmp/own" --jobs 2 --filters "$tmp/bank.dat" --space "$space" --srgb \
  --manifest "$tmp/own/data/own.csv" >"$log.out" 2>"$log.err" || status=$?
expect_status 0
cmp -s "$tmp/bank.dat" "$tmp/own/filters.dat" || fail "--filters: the workspace's bank is not the file"
"$bin/build_database" --manifest "$tmp/own/data/own.csv" --filters "$tmp/bank.dat" --srgb --output "$tmp/srgb.dat" \
  >/dev/null 2>&1 || fail "build_database --srgb failed"
cmp -s "$tmp/srgb.dat" "$tmp/own/manifest.dat" || fail "the database was not built with --srgb"
(cd "$tmp/own/runs/manifest_direction/0000" && "$bin/estimate_light" --manifest "$tmp/own/data/own.csv" \
  --model-set 0 --test-set 1 --space "$space" --srgb --jobs 1) >"$tmp/whole.csv" 2>/dev/null ||
  fail "estimate_light failed"
cmp -s "$tmp/whole.csv" "$own/direction_images.csv" || fail "direction_images.csv is not that of --space and --srgb"
for f in classification.tex direction.tex run.json confusion.svg directions.svg summary.svg; do
  grep -qF "bank file $tmp/bank.dat (4 kernels of 11x11)" "$own/$f" || fail "$f does not name the bank file"
  grep -qF "illumination space 24 tilts x 6 elevations 30-60 deg x 2 magnitudes 0.9-1.1" "$own/$f" ||
    fail "$f does not give the illumination space"
  grep -qF "sRGB curve undone" "$own/$f" || fail "$f does not say that the sRGB curve was undone"
done
grep -qF '"srgb": true' "$own/run.json" || fail "run.json does not record --srgb"
status=0
"$runner" --bin-dir "$bin" --workspace "$tmp/own" --space 8,40 --manifest "$tmp/own/data/own.csv" \
  >"$log.out" 2>"$log.err" || status=$?
expect_status 2
expect_output "run_experiments: --space needs seven values"

# --- --y-up goes to the commands and turns the directions figure.
status=0
"$runner" --bin-dir "$bin" --workspace "$tmp/own" --jobs 2 --y-up --manifest "$tmp/own/data/own.csv" \
  >"$log.out" 2>"$log.err" || status=$?
expect_status 0
[[ $(grep -c -- '--y-up' "$tmp/own/runs/jobs.tsv") == 6 ]] || fail "--y-up did not reach the six jobs"
grep -qF '"y_up": true' "$own/run.json" || fail "run.json does not record --y-up"
grep -qF '90 up)</text>' "$own/directions.svg" || fail "directions.svg is not drawn with y up"

# --- A model set of three lights is refused before any image is read,
# naming the manifest, the surface and the set.
{
  echo surface,set,image,slant,tilt
  for tilt in 0 90 180; do echo "three,0,missing_$tilt.pgm,45,$tilt"; done
  echo "three,1,missing_test.pgm,45,0"
} >"$tmp/three.csv"
status=0
"$runner" --bin-dir "$bin" --workspace "$tmp/three" --manifest "$tmp/three.csv" >"$log.out" 2>"$log.err" ||
  status=$?
expect_status 1
expect_output "$tmp/three.csv:2: surface \"three\", set 0 cannot give a model (it has 3 lights; a model needs at least 4"

# --- An unknown bank is refused with the generator's list before anything
# is touched, so the next run still knows the bank as its own.
stamps=$(cat "$ws"/stamps/*)
run --bank foo
expect_status 2
expect_output "unknown bank 'foo'; generate_filters has default gabor lm schmid laws"
[[ $(cat "$ws"/stamps/*) == "$stamps" && $(mtime "$ws/filters.dat") == "$bank_time" ]] ||
  fail "a refused bank changed the workspace"

# --- Second run, through a stand-in for ssh with a login line that gives a
# port: data, bank and database are reused.
cat >"$tmp/fake_ssh" <<'EOF'
#!/bin/sh
# Stands in for ssh: skips the options, then runs the command here, with the
# SHELL that a login on the remote machine would set (GNU parallel's remote
# wrapper execs $SHELL, and CI may run without one). Host "badkey" fails as
# ssh does on an unknown host key; host "flaky" lets only its first login in.
export SHELL="${SHELL:-/bin/sh}"
while [ $# -gt 0 ]; do
  case $1 in
    -p | -l | -o) shift 2 ;;
    -*) shift ;;
    *) break ;;
  esac
done
host=$1
shift
[ "$1" = "--" ] && shift
case $host in
  *badkey) echo "Host key verification failed." >&2 && exit 255 ;;
  *flaky) mkdir "$(dirname "$0")/flaky.seen" 2>/dev/null || { echo "Connection closed" >&2 && exit 255; } ;;
esac
exec sh -c "$*"
EOF
chmod +x "$tmp/fake_ssh"
echo "2/$tmp/fake_ssh -p 2222 user@stand-in-host" >"$tmp/machines"
run --sshloginfile "$tmp/machines"
expect_status 0
[[ $(mtime "$image") == "$image_time" ]] || fail "the second run generated the images again"
[[ $(mtime "$ws/filters.dat") == "$bank_time" ]] || fail "the second run made the bank again"
[[ $(mtime "$ws/test20.dat") == "$db_time" ]] || fail "the second run built the database again"
expect_output "data: reusing"
expect_output "bank: reusing"
[[ $(cut -f2 "$ws/runs/joblog.txt" | tail -n +2 | sort -u) == "$tmp/fake_ssh -p 2222 user@stand-in-host" ]] ||
  fail "the runs did not go through the --sshloginfile machines"
diff <(grep -v '^%' "$tmp/first.tex") <(grep -v '^%' "$tables/classification.tex") >/dev/null ||
  fail "the same inputs gave another table"
check_results "${names[@]}"

# --- Another seed: the data and the database are made again, the bank kept.
cp "$image" "$tmp/seed1.pgm"
run --seed 2
expect_status 0
cmp -s "$tmp/seed1.pgm" "$image" && fail "another seed did not regenerate the images"
[[ $(mtime "$ws/filters.dat") == "$bank_time" ]] || fail "another seed made the bank again"
[[ $(mtime "$ws/test20.dat") != "$db_time" ]] || fail "new images did not rebuild the database"

# --- One's own bank is used as it is, and the database is rebuilt for it;
# asking for a bank then stops the run before anything is made.
"$bin/generate_filters" --bank gabor --scales 3 --orientations 2 --output "$ws/filters.dat" >/dev/null 2>&1 ||
  fail "generate_filters could not write a bank"
own_bank=$(sha256sum <"$ws/filters.dat")
db_time=$(mtime "$ws/test20.dat")
run --seed 2
expect_status 1
expect_output "filters.dat was not made by this runner"
expect_output "leave out --bank"
grep -q "running" "$log.out" && fail "runs were started against one's own bank"
[[ $(mtime "$ws/test20.dat") == "$db_time" ]] || fail "a refused run rebuilt the database"
making=(--size 32)
run --seed 2
expect_status 0
expect_output "bank: using"
[[ $(sha256sum <"$ws/filters.dat") == "$own_bank" ]] || fail "one's own bank was replaced"
[[ $(mtime "$ws/test20.dat") != "$db_time" ]] || fail "a new bank did not rebuild the database"

# --- Images changed by hand are used as they are unless --size or --seed
# asks for others. A missing image fails the runs of its surface only, each
# with the programs' status for a data error, named in the report.
rm -- "$image"
run --seed 2
expect_status 1
expect_output "data was not made by this runner (or was changed since), so it would be used as it is, not as --size and --seed ask"
making=()
run
making=(--size 32 --bank laws)
expect_status 1
grep -q "FAILED: classification of aab (surface 1): exit status 1;" "$log.err" ||
  fail "the classification failure of aab is not reported with its status"
grep -q "FAILED: direction of aab: exit status 1;" "$log.err" ||
  fail "the direction failure of aab is not reported with its status"
grep -q "FAILED: per-image classification of aab (surface 1): exit status 1;" "$log.err" ||
  fail "the per-image classification failure of aab is not reported"
grep -q "aab_45_30.pgm" "$log.err" || fail "the report does not show the run's standard error"
[[ $(grep -c FAILED: "$log.err") == 4 ]] || fail "other runs than the four of aab failed"
grep -q '^% aab: ' "$tables/classification.tex" || fail "classification.tex does not mark aab as missing"
check_results aaa aaj


# ------------------------------------------------------------------------
# Stand-ins: every surface, rows made up at once. generate_filters is the
# real one; the others make placeholder data and a database that lists the
# surfaces, and the experiments print a valid row for their surface unless
# STANDIN_FAULT holds "PROGRAM:FAULT:NAME" for it (kill: killed by SIGKILL;
# row: exits 0 after a line that is no row; hang: waits, its pid in hung.pid).
fake=$tmp/fake
mkdir "$fake"
ln -s "$(realpath "$bin/generate_filters")" "$fake/generate_filters"
ln -s "$(realpath "$bin/summarize_results")" "$fake/summarize_results"
cat >"$fake/generate_surfaces" <<'EOF'
#!/bin/sh
while [ $# -gt 1 ]; do
  case $1 in --root) root=$2 ;; --names) names=$2 ;; esac
  shift 2
done
for n in $(echo "$names" | tr , ' '); do
  for q in 0 1 2 3; do mkdir -p "$root/data/$n/$n$q" && echo "$n$q" >"$root/data/$n/$n$q/image"; done
done
EOF
cat >"$fake/build_database" <<'EOF'
#!/bin/sh
if [ "$1" = --list-surfaces ]; then
  printf '%s\n' aaa aab aaj aam aan aao aar aas aba abj abk acc acd ace adb adc add ade adg adh
  exit 0
fi
while [ $# -gt 1 ]; do
  case $1 in --output) output=$2 ;; --surfaces) names=$2 ;; esac
  shift 2
done
echo "$names" >"$output"
EOF
for program in classify direction; do
  cat >"$fake/${program}_experiment" <<EOF
#!/bin/sh
program=$program
EOF
  cat >>"$fake/${program}_experiment" <<'EOF'
name=$1
if [ $program = classify ]; then # the surface number: its name from the database
  read -r line <test20.dat
  IFS=,
  set -- $line
  shift "$name"
  name=$1
fi
case " ${STANDIN_FAULT:-} " in
  *" $program:kill:$name "*) kill -KILL $$ ;;
  *" $program:row:$name "*) echo "$name&no row" && exit 0 ;;
  *" $program:hang:$name "*) echo $$ >"$(dirname "$0")/hung.pid" && exec sleep 60 ;;
esac
if [ $program = classify ]; then
  printf '%s&0.50&1.00&0.001 \\ 0.002\\\\\n' "$name"
else
  printf '%s&4~/~12&0.003~/~0.002&0.020~/~0.012\\\\\n' "$name"
fi
EOF
done
chmod +x "$fake"/*_*
mkdir "$tmp/broken"
printf '#!/bin/sh\necho "gnuplot: stand-in failure" >&2\nexit 1\n' >"$tmp/broken/gnuplot"
chmod +x "$tmp/broken/gnuplot"

ws=$tmp/ws20
res=$ws/results
tables=$res
names=(aaa aab aaj aam aan aao aar aas aba abj abk acc acd ace adb adc add ade adg adh)
fake_args=(--bin-dir "$fake" --workspace "$ws" --size 32 --bank laws --jobs 4)
run_fake() { # [OPTION...]; STANDIN_FAULT and PATH from the environment
  status=0
  runs=$((runs + 1))
  "$runner" "${fake_args[@]}" "$@" >"$log.out" 2>"$log.err" || status=$?
}
# The complete results stay as they were, and no runner files are left.
expect_results_kept() {
  diff -r "$tmp/complete" "$res" >/dev/null || fail "the results of the complete run were changed"
  expect_clean "$ws"
}

# --- A complete run writes the results, by default into its workspace.
run_fake
expect_status 0
check_results "${names[@]}"
[[ ! -e $ws/partial ]] || fail "a complete run wrote partial tables"
grep -q "partial run" "$log.out" && fail "a complete run calls itself partial"
cp -r "$res" "$tmp/complete"

# --- A trial run on one surface leaves them alone.
run_fake --surfaces 1
expect_status 0
expect_output "a partial run (1 of 20 surfaces): its tables are in $ws/partial"
expect_results_kept
[[ $(tail -n +2 "$ws/partial/direction.csv" | cut -d, -f1) == aaa ]] || fail "the trial run's tables are not in partial/"

# --- A job killed by a signal and a job that exits 0 without a row are
# named with what went wrong; the other rows go to partial/.
STANDIN_FAULT="classify:kill:aab direction:row:aaj" run_fake
expect_status 1
grep -q "FAILED: classification of aab (surface 1): killed by signal 9 (KILL);" "$log.err" ||
  fail "the killed job is not reported as such"
grep -qF "FAILED: direction of aaj: it printed no table row: 'aaj&no row';" "$log.err" ||
  fail "the job without a row is not reported as such"
[[ $(grep -c FAILED: "$log.err") == 2 ]] || fail "other jobs than the two faulty ones failed"
expect_output "a partial run (2 runs failed): its tables are in $ws/partial"
expect_results_kept
tables=$ws/partial
others=("${names[@]}")
unset 'others[1]'
check_csv classification surface,share_correct,share_top3,distance_mean,distance_sd 5 "${others[@]}"

# --- A figure that cannot be drawn fails the run, which is then partial.
PATH="$tmp/broken:$PATH" run_fake
expect_status 1
expect_output "gnuplot: stand-in failure"
expect_output "gnuplot could not draw the figure"
expect_output "a partial run (no figure): its tables are in $ws/partial"
expect_results_kept
FIGURE=no check_results "${names[@]}"
tables=$res

# --- One runner at a time on a workspace, and on a results folder.
exec 7>"$ws/.lock"
flock -n 7 || fail "cannot take the workspace's lock"
run_fake
exec 7>&-
expect_status 1
expect_output "another run_experiments is using the workspace $ws"
grep -q "running" "$log.out" && fail "a second runner on the workspace ran"
exec 7<"$res"
flock -n 7 || fail "cannot take the results folder's lock"
run_fake --workspace "$tmp/other" --results "$res"
exec 7<&-
expect_status 1
expect_output "another run_experiments is writing its results to $res"
[[ ! -e $tmp/other/data ]] || fail "a second runner on the results folder made data"
expect_results_kept

# --- Ctrl-C (SIGINT to the runner's process group) and SIGTERM (to the
# runner alone) stop the run at once: one line says so, no job is reported
# as failed, the hung job is gone, and no table is written anywhere.
cp -r "$ws/partial" "$tmp/partial"
rm -- "$ws/runs/joblog.txt" # every job has run: without this the next run would have none to do
for signal in INT TERM; do
  rm -f "$fake/hung.pid"
  runs=$((runs + 1))
  set -m # the runner in a process group of its own, as in a terminal
  STANDIN_FAULT="classify:hang:aam" "$runner" "${fake_args[@]}" >"$log.out" 2>"$log.err" &
  pid=$!
  set +m
  for ((i = 0; i < 300; i++)); do
    [[ -s $fake/hung.pid ]] && break
    sleep 0.1
  done
  [[ -s $fake/hung.pid ]] || fail "the hanging job did not start"
  if [[ $signal == INT ]]; then kill -INT -- "-$pid"; else kill -TERM "$pid"; fi
  status=0
  wait "$pid" || status=$?
  if [[ $signal == INT ]]; then expect_status 130; else expect_status 143; fi
  [[ $(grep -c interrupted "$log.err") == 1 ]] || fail "SIG$signal: not one 'interrupted' line"
  expect_output "interrupted (SIG$signal); the results in $res are as they were"
  grep -q FAILED "$log.out" "$log.err" && fail "SIG$signal: jobs were reported as failed"
  hung=$(<"$fake/hung.pid")
  for ((i = 0; i < 20; i++)); do
    kill -0 "$hung" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$hung" 2>/dev/null && fail "SIG$signal: the hung job still runs"
  diff -r "$tmp/partial" "$ws/partial" >/dev/null || fail "SIG$signal: partial/ was changed"
  expect_results_kept
done

# --- A rerun after the interruptions does only the jobs that did not
# finish, and its results are those of the uninterrupted run.
finished=$(awk -F'\t' 'NR > 1 && $7 == 0 && $8 == 0' "$ws/runs/joblog.txt" | wc -l)
((finished > 0 && finished < 40)) || fail "the interrupted runs finished $finished of the 40 jobs"
run_fake
expect_status 0
expect_output "resuming: $finished of 40 jobs finished in an earlier run of the same jobs"
[[ $(grep -c '^run_experiments: \[' "$log.out") == $((40 - finished)) ]] || fail "the rerun did not run just the other jobs"
for f in classification.csv direction.csv; do cmp -s "$tmp/complete/$f" "$res/$f" || fail "the resumed run's $f differs"; done
diff <(grep -v '^%' "$tmp/complete/classification.tex") <(grep -v '^%' "$res/classification.tex") >/dev/null ||
  fail "the resumed run's classification.tex differs"
cp -r "$res/." "$tmp/complete"

# --- Every machine is checked before the runs: an unknown host key and a
# login line GNU parallel cannot use stop the run, each named on one line;
# a login that fails later fails its jobs as an ssh failure.
printf '%s\n' "1/$tmp/fake_ssh good" "1/$tmp/fake_ssh badkey" "1/-p 2222 user@host" >"$tmp/machines"
run_fake --sshloginfile "$tmp/machines"
expect_status 1
expect_output "machine '$tmp/fake_ssh badkey' of $tmp/machines cannot run commands: ssh failed (status 255): Host key verification failed."
grep -qF "machine '-p 2222 user@host' of" "$log.err" || fail "the unusable login line is not named"
[[ $(grep -c "cannot run commands" "$log.err") == 2 ]] || fail "not one line for each bad machine"
expect_output "no run was started"
grep -q "running" "$log.out" && fail "runs were started on unchecked machines"
echo "4/$tmp/fake_ssh flaky" >"$tmp/machines"
run_fake --sshloginfile "$tmp/machines" --surfaces 2
expect_status 1
[[ $(grep -c "FAILED: .*: ssh to '$tmp/fake_ssh flaky' failed (status 255);" "$log.err") == 4 ]] ||
  fail "the jobs that ssh could not start are not reported as ssh failures"
grep -q "signal" "$log.err" && fail "an ssh failure was reported as a signal"
expect_results_kept

echo "PASS: run_experiments ($runs runs)"
