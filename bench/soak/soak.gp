# soak.csv as two panels: memory (RSS, PSS, heap) and descriptors/threads/senders, per process,
# by minute. gnuplot -e "csv='soak.csv'; png='soak.png'; title='...'" soak.gp
set terminal pngcairo size 1400,900
set output png
set datafile separator ","
set key outside right
set multiplot layout 2,1 title title
set xlabel "minutes"
set grid
# One process's rows at a time, so that its line is not broken by the other's.
rows(p) = "< grep '^[0-9]*,".p.",' ".csv
set ylabel "MiB"
plot for [p in "desktop cli bridge recorder"] rows(p) using ($1/60.0):($3/1024.0) with lines title p." RSS", \
     for [p in "desktop cli bridge recorder"] rows(p) using ($1/60.0):($4/1024.0) with lines title p." PSS", \
     for [p in "desktop cli bridge recorder"] rows(p) using ($1/60.0):($5/1024.0) with lines title p." heap"
set ylabel "count"
plot for [p in "desktop cli bridge recorder"] rows(p) using ($1/60.0):6 with lines title p." descriptors", \
     for [p in "desktop cli bridge recorder"] rows(p) using ($1/60.0):7 with lines title p." threads", \
     for [p in "desktop cli bridge recorder"] rows(p) using ($1/60.0):9 with lines title p." senders"
unset multiplot
