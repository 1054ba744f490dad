# Draws the summary figure of run_experiments from its two CSV files:
#   gnuplot -c scripts/summary_figure.gnuplot CLASSIFICATION.csv DIRECTION.csv \
#       [OUTPUT.svg [TITLE [CLASSIFICATION_TITLE DIRECTION_TITLE]]]
# (without OUTPUT.svg the figure goes to standard output; TITLE, e.g. what
# the results were made from, goes above both plots; the last two replace
# the titles of the plots of the default data, and the direction plot then
# scales to its data). Text is shown as given (no enhanced-text markup).
# Top: per surface, the share of test images classified correctly and within
# the 3 nearest models. Bottom: per surface, the direction estimates within
# 15 degrees, alone and counting the 180-degree tilt twin.
set terminal svg size 960,720 dynamic noenhanced font 'sans,12' background rgb 'white'
if (ARGC >= 3) set output ARG3

set datafile separator ','
set datafile columnheaders
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set boxwidth 0.9
set grid ytics
set key outside top center horizontal
set lmargin 10
set rmargin 4
set xtics nomirror
set ytics nomirror

if (ARGC >= 4) set multiplot layout 2,1 title ARG4 font 'sans,10' noenhanced; else set multiplot layout 2,1
if (ARGC >= 6) set title ARG5; else set title 'Classification of the 36 test images of each surface'
set ylabel 'share of test images'
set yrange [0:1.05]
plot ARG1 using 2:xtic(1) title 'correct' linecolor rgb '#1f77b4', \
     ''   using 3         title 'in top 3' linecolor rgb '#aec7e8'

set ylabel 'images'
if (ARGC >= 6) set title ARG6; set yrange [0:*]; set ytics autofreq; \
else set title 'Light direction of the 12 images of image set 1'; set yrange [0:12.6]; set ytics 0,2,12
plot ARG2 using 2:xtic(1) title 'within 15 degrees' linecolor rgb '#d62728', \
     ''   using 3         title 'counting the 180-degree tilt twin' linecolor rgb '#ff9896'
unset multiplot
