# Reads manifests and the per-image results of classify_images and
# estimate_light for scripts/run_experiments.
#
#   awk -v mode=MODE -f scripts/per_image.awk FILE...
#
# mode=survey     FILE is a manifest: prints "surface NAME" for each surface in
#                 order of first appearance, then "set Q" for each image set,
#                 in increasing order.
# mode=rows       FILE is the output of classify_images (kind=classification)
#                 or estimate_light (kind=direction) for one surface: prints
#                 that surface's row as classify_experiment or
#                 direction_experiment prints it (share correct, share in the
#                 top 3, mean \ sd of the ratio; hits within 15 degrees ~/~
#                 counting the twin, mean ~/~ sd of better_share and of ratio),
#                 or "!NAME" when an image has no model of its surface.
# mode=order      the manifest, then per-image results with their header
#                 lines: prints one header and the results' lines in the
#                 manifest's order.
# mode=confusion  the manifest, then classification results: prints the
#                 confusion matrix as CSV, true surface (rows) against
#                 predicted surface (columns), both in manifest order.
#
# Fields follow RFC 4180 within one line; a record with a line break inside
# quotes is refused. Standard deviations are those of the population, as the
# programs compute them, over the images in the order given.

BEGIN {
  if (mode != "survey" && mode != "rows" && mode != "order" && mode != "confusion") fail("unknown mode")
  if (mode == "rows" && kind != "classification" && kind != "direction") fail("kind must be classification or direction")
}

FNR == 1 {
  files++
  sub(/^\357\273\277/, "")
}
{ sub(/\r$/, "") }
/^$/ { next }

{
  n = split_csv($0, f)
  if (n < 0) fail(FILENAME ":" FNR ": a quoted field does not end on its line")
}

FNR == 1 {
  delete col
  for (i = 1; i <= n; i++) col[f[i]] = i
  if (!("surface" in col) || !("set" in col) || !("image" in col)) fail(FILENAME ": no surface, set and image columns")
  if (files == 1) manifest_header = $0
  else if (mode == "order" && header == "") header = $0
  next
}

mode == "survey" || files == 1 && (mode == "order" || mode == "confusion") {
  name = f[col["surface"]]
  if (!(name in surface_number)) {
    surface_number[name] = ++surfaces
    surface_name[surfaces] = name
  }
  if (!(f[col["set"]] in set_seen)) {
    set_seen[f[col["set"]]] = 1
    sets[++set_count] = f[col["set"]] + 0
  }
  place[key(f)] = ++places
  next
}

mode == "order" {
  k = key(f)
  if (!(k in place)) fail(FILENAME ":" FNR ": an image the manifest does not list")
  line_at[place[k]] = $0
  next
}

mode == "confusion" {
  if (!(f[col["surface"]] in surface_number) || !(f[col["predicted"]] in surface_number))
    fail(FILENAME ":" FNR ": a surface the manifest does not list")
  count[surface_number[f[col["surface"]]], surface_number[f[col["predicted"]]]]++
  next
}

# mode == "rows"
{
  if (images == 0) name = f[col["surface"]]
  else if (f[col["surface"]] != name) fail(FILENAME ":" FNR ": more than one surface")
  images++
  if (kind == "classification") {
    if (f[col["nearer"]] == "") no_model = 1
    if (f[col["predicted"]] == name) correct++
    if (f[col["nearer"]] != "" && f[col["nearer"]] + 0 <= 2) top3++
    a[images] = f[col["ratio"]] + 0
  } else {
    if (f[col["error"]] + 0 < 15) hits++
    if (f[col["error"]] + 0 < 15 || f[col["twin_error"]] + 0 < 15) both++
    a[images] = f[col["better_share"]] + 0
    b[images] = f[col["ratio"]] + 0
  }
}

END {
  if (failed) exit 1
  if (mode == "survey") {
    for (i = 1; i <= surfaces; i++) print "surface " surface_name[i]
    sort_numbers(sets, set_count)
    for (i = 1; i <= set_count; i++) print "set " sets[i]
  } else if (mode == "order") {
    print header
    for (i = 1; i <= places; i++) if (i in line_at) print line_at[i]
  } else if (mode == "confusion") {
    line = "true\\predicted"
    for (j = 1; j <= surfaces; j++) line = line "," quote(surface_name[j])
    print line
    for (i = 1; i <= surfaces; i++) {
      line = quote(surface_name[i])
      for (j = 1; j <= surfaces; j++) line = line "," ((i, j) in count ? count[i, j] : 0)
      print line
    }
  } else {
    if (images == 0) fail("no image in the results")
    if (kind == "classification") {
      if (no_model) {
        print "!" name
        exit 0
      }
      stats(a, images)
      printf "%s&%.2f&%.2f&%.3f \\ %.3f\\\\\n", name, correct / images, top3 / images, mean, sd
    } else {
      stats(a, images)
      m1 = mean
      s1 = sd
      stats(b, images)
      printf "%s&%d~/~%d&%.3f~/~%.3f&%.3f~/~%.3f\\\\\n", name, hits, both, m1, s1, mean, sd
    }
  }
}

function fail(message) {
  printf "per_image.awk: %s\n", message > "/dev/stderr"
  failed = 1
  exit 1
}

function key(f) { return f[col["surface"]] SUBSEP (f[col["set"]] + 0) SUBSEP f[col["image"]] }

function quote(s) {
  if (s !~ /[",\r\n]/) return s
  gsub(/"/, "\"\"", s)
  return "\"" s "\""
}

# Mean and population standard deviation of v[1..n], summed in that order.
function stats(v, n,    i, d, s) {
  mean = 0
  for (i = 1; i <= n; i++) mean += v[i]
  mean /= n
  s = 0
  for (i = 1; i <= n; i++) {
    d = v[i] - mean
    s += d * d
  }
  sd = sqrt(s / n)
}

function sort_numbers(v, n,    i, j, t) {
  for (i = 2; i <= n; i++)
    for (j = i; j > 1 && v[j - 1] > v[j]; j--) {
      t = v[j]
      v[j] = v[j - 1]
      v[j - 1] = t
    }
}

# Splits an RFC 4180 line into out[1..n]; returns n, or -1 when a quoted
# field is not closed.
function split_csv(line, out,    n, field, c, i, quoted) {
  n = 0
  field = ""
  quoted = 0
  for (i = 1; i <= length(line); i++) {
    c = substr(line, i, 1)
    if (quoted) {
      if (c == "\"") {
        if (substr(line, i + 1, 1) == "\"") {
          field = field "\""
          i++
        } else quoted = 0
      } else field = field c
    } else if (c == "\"") quoted = 1
    else if (c == ",") {
      out[++n] = field
      field = ""
    } else field = field c
  }
  if (quoted) return -1
  out[++n] = field
  return n
}
