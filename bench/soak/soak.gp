# soak.csv as two panels: memory (RSS, PSS, heap) and descriptors/threads, per process, by minute.
# gnuplot -e "csv='soak.csv'; png='soak.png'; title='...'" soak.gp
set terminal pngcairo size 1400,900
set output png
set datafile separator ","
set key autotitle columnhead outside right
set multiplot layout 2,1 title title
set xlabel "minutes"
set ylabel "MiB"
set grid
plot for [p in "desktop cli"] csv using ($1/60.0):(strcol(2) eq p ? $3/1024.0 : NaN) with lines title p." RSS", \
     for [p in "desktop cli"] csv using ($1/60.0):(strcol(2) eq p ? $4/1024.0 : NaN) with lines title p." PSS", \
     for [p in "desktop cli"] csv using ($1/60.0):(strcol(2) eq p ? $5/1024.0 : NaN) with lines title p." heap"
set ylabel "count"
plot for [p in "desktop cli"] csv using ($1/60.0):(strcol(2) eq p ? $6 : NaN) with lines title p." descriptors", \
     for [p in "desktop cli"] csv using ($1/60.0):(strcol(2) eq p ? $7 : NaN) with lines title p." threads", \
     for [p in "desktop cli"] csv using ($1/60.0):(strcol(2) eq p ? $9 : NaN) with lines title p." senders"
unset multiplot
