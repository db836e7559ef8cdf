# soak.csv as two panels: memory (RSS, PSS, heap) and descriptors/threads/senders, per process,
# by minute: a colour per process, a dash pattern per figure.
# gnuplot -e "csv='soak.csv'; png='soak.png'; title='...'" soak.gp
set terminal pngcairo size 1400,900
set output png
set datafile separator ","
set key outside right
set multiplot layout 2,1 title title
set xlabel "minutes"
set grid
set offsets 0, 0, graph 0.05, 0
procs = "desktop cli bridge recorder"
colour(i) = word("#7b2cbf #1b9e77 #1f78b4 #d95f02", i)
# One process's rows at a time, so that its line is not broken by the others'.
rows(p) = "< grep '^[0-9]*,".p.",' ".csv
set ylabel "MiB"
plot for [i = 1:words(procs)] rows(word(procs, i)) using ($1/60.0):($3/1024.0) with lines lw 2 lc rgb colour(i) dt 1 title word(procs, i)." RSS", \
     for [i = 1:words(procs)] rows(word(procs, i)) using ($1/60.0):($4/1024.0) with lines lw 1 lc rgb colour(i) dt 2 title word(procs, i)." PSS", \
     for [i = 1:words(procs)] rows(word(procs, i)) using ($1/60.0):($5/1024.0) with lines lw 1 lc rgb colour(i) dt 3 title word(procs, i)." heap"
set ylabel "count"
plot for [i = 1:words(procs)] rows(word(procs, i)) using ($1/60.0):6 with lines lw 2 lc rgb colour(i) dt 1 title word(procs, i)." descriptors", \
     for [i = 1:words(procs)] rows(word(procs, i)) using ($1/60.0):7 with lines lw 1 lc rgb colour(i) dt 2 title word(procs, i)." threads", \
     for [i = 1:words(procs)] rows(word(procs, i)) using ($1/60.0):9 with lines lw 1 lc rgb colour(i) dt 3 title word(procs, i)." senders"
unset multiplot
