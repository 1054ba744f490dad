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
# mode=confusion_svg
#                 FILE is that confusion matrix: draws it as SVG, a count in
#                 each cell, shaded by its share of the row.
# mode=directions_svg
#                 the manifest, then light estimates: draws per surface a
#                 polar plot (tilt as angle, as in the images: tilt 0 to the
#                 right, 90 down; slant as radius) of each true light (black
#                 dot) joined to its estimate: a hit within 15 degrees (green
#                 disc), a hit of the 180-degree twin only (orange square), a
#                 miss (red cross).
# Both figures take -v title=TEXT, a line shown at their top.
#
# Fields follow RFC 4180 within one line; a record with a line break inside
# quotes is refused. Standard deviations are those of the population, as the
# programs compute them, over the images in the order given.

BEGIN {
  if (mode !~ /^(survey|rows|order|confusion|confusion_svg|directions_svg)$/) fail("unknown mode")
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

mode == "confusion_svg" {
  if (FNR == 1) {
    surfaces = n - 1
    for (i = 2; i <= n; i++) surface_name[i - 1] = f[i]
  } else {
    if (n != surfaces + 1) fail(FILENAME ":" FNR ": expected " surfaces + 1 " fields")
    for (j = 2; j <= n; j++) count[FNR - 1, j - 1] = f[j] + 0
  }
  next
}

FNR == 1 {
  delete col
  for (i = 1; i <= n; i++) col[f[i]] = i
  if (!("surface" in col) || !("set" in col) || !("image" in col)) fail(FILENAME ": no surface, set and image columns")
  if (files == 1) manifest_header = $0
  else if (mode == "order" && header == "") header = $0
  next
}

mode == "survey" || files == 1 && (mode == "order" || mode == "confusion" || mode == "directions_svg") {
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

mode == "directions_svg" {
  i = surface_number[f[col["surface"]]]
  if (!i) fail(FILENAME ":" FNR ": a surface the manifest does not list")
  m = ++estimates[i]
  true_slant[i, m] = f[col["slant"]]
  true_tilt[i, m] = f[col["tilt"]]
  est_slant[i, m] = f[col["est_slant"]]
  est_tilt[i, m] = f[col["est_tilt"]]
  outcome[i, m] = f[col["error"]] + 0 < 15 ? "hit" : f[col["twin_error"]] + 0 < 15 ? "twin" : "miss"
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
  } else if (mode == "confusion_svg") {
    confusion_svg()
  } else if (mode == "directions_svg") {
    directions_svg()
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

function xml(s) {
  gsub(/&/, "\\&amp;", s)
  gsub(/</, "\\&lt;", s)
  gsub(/>/, "\\&gt;", s)
  gsub(/"/, "\\&quot;", s)
  return s
}

function svg_begin(width, height) {
  printf "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" font-family=\"sans-serif\">\n", width, height, width, height
  printf "<rect width=\"%d\" height=\"%d\" fill=\"white\"/>\n", width, height
}

# Title lines are separated by " | " in `title`; svg_title draws them,
# title_height is the room they take.
function svg_title(x,    lines, i, k) {
  k = split(title, lines, / \| /)
  for (i = 1; i <= k; i++)
    printf "<text x=\"%d\" y=\"%d\" font-size=\"%d\"%s>%s</text>\n", x, 6 + 15 * i, (i == 1 ? 14 : 10), (i == 1 ? " font-weight=\"bold\"" : ""), xml(lines[i])
}

function title_height(    lines) { return 15 * split(title, lines, / \| /) + 12 }

function confusion_svg(    cell, label, top, left, width, height, i, j, sum, share, shade, x, y, font) {
  cell = surfaces <= 10 ? 36 : surfaces <= 25 ? 24 : 16
  font = cell <= 16 ? 8 : 11
  label = 0
  for (i = 1; i <= surfaces; i++) if (length(surface_name[i]) > label) label = length(surface_name[i])
  label = label * font * 0.62 + 10
  left = label + 24
  width = left + surfaces * cell + 70
  if (width < 720) width = 720
  top = title_height() + 30 + label * 0.75
  height = top + surfaces * cell + 20
  svg_begin(width, height + 34)
  svg_title(8)
  printf "<text x=\"%d\" y=\"%d\" font-size=\"11\" text-anchor=\"middle\">predicted surface</text>\n", left + surfaces * cell / 2, top - label * 0.75 - 8
  printf "<text transform=\"translate(12,%d) rotate(-90)\" font-size=\"11\" text-anchor=\"middle\">true surface</text>\n", top + surfaces * cell / 2
  for (j = 1; j <= surfaces; j++) {
    x = left + (j - 0.5) * cell + font / 3
    printf "<text transform=\"translate(%.1f,%d) rotate(-50)\" font-size=\"%d\">%s</text>\n", x, top - 4, font, xml(surface_name[j])
  }
  for (i = 1; i <= surfaces; i++) {
    y = top + (i - 1) * cell
    printf "<text x=\"%d\" y=\"%.1f\" font-size=\"%d\" text-anchor=\"end\">%s</text>\n", left - 4, y + cell / 2 + font / 3, font, xml(surface_name[i])
    sum = 0
    for (j = 1; j <= surfaces; j++) sum += count[i, j]
    for (j = 1; j <= surfaces; j++) {
      share = sum ? count[i, j] / sum : 0
      shade = int(255 - 200 * share)
      x = left + (j - 1) * cell
      printf "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"rgb(%d,%d,255)\" stroke=\"%s\" stroke-width=\"%s\"/>\n", x, y, cell, cell, shade, shade, (i == j ? "black" : "#bbbbbb"), (i == j ? 1.5 : 0.5)
      if (count[i, j])
        printf "<text x=\"%.1f\" y=\"%.1f\" font-size=\"%d\" text-anchor=\"middle\" fill=\"%s\">%d</text>\n", x + cell / 2, y + cell / 2 + font / 3, font, (share > 0.55 ? "white" : "black"), count[i, j]
    }
    printf "<text x=\"%d\" y=\"%.1f\" font-size=\"%d\" fill=\"#555555\">%d</text>\n", left + surfaces * cell + 6, y + cell / 2 + font / 3, font, sum
  }
  printf "<text x=\"%d\" y=\"%d\" font-size=\"10\" fill=\"#555555\">images in each cell, shaded by their share of the row (white 0, blue 1);</text>\n", 8, height + 10
  printf "<text x=\"%d\" y=\"%d\" font-size=\"10\" fill=\"#555555\">right of a row: the images of that surface; the diagonal (outlined): correct</text>\n", 8, height + 24
  print "</svg>"
}

function polar_x(cx, r, slant, tilt) { return cx + r * slant / 90 * cos(tilt * 3.141592653589793 / 180) }
function polar_y(cy, r, slant, tilt) { return cy + r * slant / 90 * sin(tilt * 3.141592653589793 / 180) }

function directions_svg(    columns, rows, panel, r, top, width, height, i, m, cx, cy, k, x1, y1, x2, y2, ring, name) {
  columns = int(sqrt(surfaces))
  if (columns * columns < surfaces) columns++
  rows = int((surfaces + columns - 1) / columns)
  panel = 190
  r = 70
  width = columns * panel + 20
  if (width < 680) width = 680
  top = title_height()
  height = top + rows * panel + 30
  svg_begin(width, height)
  svg_title(8)
  for (i = 1; i <= surfaces; i++) {
    cx = 10 + ((i - 1) % columns) * panel + panel / 2
    cy = top + int((i - 1) / columns) * panel + panel / 2 + 6
    name = surface_name[i]
    printf "<text x=\"%d\" y=\"%d\" font-size=\"12\" text-anchor=\"middle\" font-weight=\"bold\">%s</text>\n", cx, cy - r - 14, xml(name)
    for (ring = 30; ring <= 90; ring += 30)
      printf "<circle cx=\"%d\" cy=\"%d\" r=\"%.1f\" fill=\"none\" stroke=\"%s\" stroke-width=\"0.6\"/>\n", cx, cy, r * ring / 90, ring == 90 ? "#888888" : "#cccccc"
    printf "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#dddddd\" stroke-width=\"0.6\"/>\n", cx - r, cy, cx + r, cy
    printf "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#dddddd\" stroke-width=\"0.6\"/>\n", cx, cy - r, cx, cy + r
    printf "<text x=\"%d\" y=\"%d\" font-size=\"8\" fill=\"#888888\">0</text>\n", cx + r + 2, cy + 3
    printf "<text x=\"%d\" y=\"%d\" font-size=\"8\" fill=\"#888888\" text-anchor=\"middle\">90</text>\n", cx, cy + r + 10
    k = 0
    for (m = 1; m <= estimates[i]; m++) {
      x1 = polar_x(cx, r, true_slant[i, m], true_tilt[i, m])
      y1 = polar_y(cy, r, true_slant[i, m], true_tilt[i, m])
      x2 = polar_x(cx, r, est_slant[i, m], est_tilt[i, m])
      y2 = polar_y(cy, r, est_slant[i, m], est_tilt[i, m])
      printf "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#999999\" stroke-width=\"0.8\"/>\n", x1, y1, x2, y2
      marker(x2, y2, outcome[i, m])
      if (outcome[i, m] == "hit") k++
    }
    for (m = 1; m <= estimates[i]; m++)
      printf "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.2\" fill=\"black\"/>\n", polar_x(cx, r, true_slant[i, m], true_tilt[i, m]), polar_y(cy, r, true_slant[i, m], true_tilt[i, m])
    printf "<text x=\"%d\" y=\"%d\" font-size=\"9\" text-anchor=\"middle\" fill=\"#555555\">%d of %d within 15 deg</text>\n", cx, cy + r + 22, k, estimates[i]
  }
  k = height - 12
  printf "<circle cx=\"16\" cy=\"%d\" r=\"2.5\" fill=\"black\"/><text x=\"24\" y=\"%d\" font-size=\"10\">true light</text>\n", k, k + 4
  marker(100, k, "hit")
  printf "<text x=\"108\" y=\"%d\" font-size=\"10\">estimate within 15 deg</text>\n", k + 4
  marker(240, k, "twin")
  printf "<text x=\"248\" y=\"%d\" font-size=\"10\">only its 180-deg twin</text>\n", k + 4
  marker(370, k, "miss")
  printf "<text x=\"378\" y=\"%d\" font-size=\"10\">miss; angle = tilt, radius = slant (rings 30, 60, 90)</text>\n", k + 4
  print "</svg>"
}

function marker(x, y, kind) {
  if (kind == "hit") printf "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3.2\" fill=\"#2a9d3a\"/>\n", x, y
  else if (kind == "twin") printf "<rect x=\"%.1f\" y=\"%.1f\" width=\"6\" height=\"6\" fill=\"#f08c00\"/>\n", x - 3, y - 3
  else printf "<path d=\"M%.1f %.1fl6 6m0 -6l-6 6\" stroke=\"#d62828\" stroke-width=\"1.6\"/>\n", x - 3, y - 3
}
