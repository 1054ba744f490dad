# Writes one experiment's results as a LaTeX table or as CSV.
#
#   awk -v kind=classification|direction -v format=tex|csv [-v models=N] \
#       [-v test_sets=LIST -v model_set=S -v direction_set=T] \
#       -f scripts/experiment_tables.awk ROWS
#
# ROWS holds one line per surface, in table order: either the row exactly as
# classify_experiment or direction_experiment printed it, or "!NAME" for a
# surface whose run failed. The LaTeX table keeps the rows byte for byte and
# puts a comment line in place of a failed one; the CSV splits every field
# ("a \ b" and "a ~/~ b" into two columns) and leaves failed surfaces out.
# With test_sets (the sets of a manifest) the LaTeX comment names those sets,
# surface names are escaped for LaTeX, and a name may hold any character: it
# is what precedes the last three "&" of a row (CSV quotes it as needed).
#
# Row formats:
#   classification  name&correct&top3&mean \ sd\\
#   direction       name&hits~/~hits_with_twin&better_mean~/~better_sd&ratio_mean~/~ratio_sd\\

BEGIN {
  if (kind != "classification" && kind != "direction") fail("kind must be classification or direction")
  if (format != "tex" && format != "csv") fail("format must be tex or csv")
  if (format == "tex") tex_header(); else csv_header()
}

/^!/ {
  if (format == "tex") printf "%% %s: no result, its run failed\n", substr($0, 2)
  next
}

{
  if (format == "tex") print (test_sets == "" ? $0 : tex_row($0))
  else csv_row($0)
}

END {
  if (failed) exit 1
  if (format == "tex") {
    print "\\bottomrule"
    print "\\end{tabular}"
  }
}

function fail(message) {
  printf "experiment_tables.awk: %s\n", message > "/dev/stderr"
  failed = 1
  exit 1
}

function tex_header() {
  print "% Written by scripts/run_experiments; needs \\usepackage{booktabs}."
  if (test_sets != "") {
    if (kind == "classification") {
      printf "%% Share of the test images of each surface (image sets %s) classified\n", test_sets
      printf "%% correctly and within the 3 nearest of the %s models, and the relative distance.\n", models
    } else {
      printf "%% Light direction of the images of image set %s, estimated from a model of set %s:\n", direction_set, model_set
      print "% hits within 15 degrees ~/~ counting the 180-degree tilt twin too, the share of"
      print "% sampled directions that fit better, and the ratio."
    }
    print "\\begin{tabular}{lccc}"
    print "\\toprule"
    if (kind == "classification") print "Surface & Correct & In top 3 & Relative distance (mean, sd) \\\\"
    else print "Surface & Hits within $15^\\circ$ ~/~ with twin & Better samples, mean ~/~ sd & Ratio, mean ~/~ sd \\\\"
  } else if (kind == "classification") {
    printf "%% Share of the 36 test images of each surface (image sets 1 to 3) classified\n"
    printf "%% correctly and within the 3 nearest of the %s models, and the relative distance.\n", (models ? models : "database's")
    print "\\begin{tabular}{lccc}"
    print "\\toprule"
    print "Surface & Correct & In top 3 & Relative distance (mean, sd) \\\\"
  } else {
    print "% Light direction of the 12 images of image set 1, estimated from a model of set 0:"
    print "% hits within 15 degrees ~/~ counting the 180-degree tilt twin too, the share of"
    print "% sampled directions that fit better, and the ratio."
    print "\\begin{tabular}{lccc}"
    print "\\toprule"
    print "Surface & Hits within $15^\\circ$ ~/~ with twin & Better samples, mean ~/~ sd & Ratio, mean ~/~ sd \\\\"
  }
  print "\\midrule"
}

function csv_header() {
  if (kind == "classification")
    print "surface,share_correct,share_top3,distance_mean,distance_sd"
  else
    print "surface,hits_15deg,hits_15deg_or_twin,better_share_mean,better_share_sd,ratio_mean,ratio_sd"
}

# Splits "a SEP b" into "a,b"; SEP is a literal string.
function pair(field, sep,    at) {
  at = index(field, sep)
  if (at == 0) fail("line " NR ": expected '" sep "' in '" field "'")
  return trim(substr(field, 1, at - 1)) "," trim(substr(field, at + length(sep)))
}

function trim(s) {
  gsub(/^[ \t]+|[ \t]+$/, "", s)
  return s
}

# Splits a row into f[1] (the name) and f[2..4]; fails unless it ends in \\.
function fields(line, f,    n, g, i) {
  if (substr(line, length(line) - 1) != "\\\\") fail("line " NR ": a row ends with \\\\")
  n = split(substr(line, 1, length(line) - 2), g, "&")
  if (n != 4 && (test_sets == "" || n < 4)) fail("line " NR ": expected 4 fields separated by &, found " n)
  f[1] = g[1]
  for (i = 2; i <= n - 3; i++) f[1] = f[1] "&" g[i]
  for (i = 2; i <= 4; i++) f[i] = g[n - 4 + i]
}

function csv_row(line,    f) {
  fields(line, f)
  if (kind == "classification")
    print quote(f[1]) "," f[2] "," f[3] "," pair(f[4], "\\")
  else
    print quote(f[1]) "," pair(f[2], "~/~") "," pair(f[3], "~/~") "," pair(f[4], "~/~")
}

function quote(s) {
  if (s !~ /[",\r\n]/) return s
  gsub(/"/, "\"\"", s)
  return "\"" s "\""
}

# The row with its surface name escaped for LaTeX.
function tex_row(line,    f, name, out, i, c) {
  fields(line, f)
  out = ""
  for (i = 1; i <= length(f[1]); i++) {
    c = substr(f[1], i, 1)
    if (c == "\\") out = out "\\textbackslash{}"
    else if (c == "~") out = out "\\textasciitilde{}"
    else if (c == "^") out = out "\\textasciicircum{}"
    else if (index("&%$#_{}", c)) out = out "\\" c
    else out = out c
  }
  return out "&" f[2] "&" f[3] "&" f[4] "\\\\"
}
