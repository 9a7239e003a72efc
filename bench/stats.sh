# The benchmark's arithmetic on result lines of key=value pairs; sourced by
# run.sh and fleet.sh.

# The value of key=... in a result line.
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p"; }
median() { sort -g | awk '{v[NR]=$1} END {if (NR == 0) print "-"; else if (NR % 2) print v[(NR+1)/2]; else printf "%.1f\n", (v[NR/2]+v[NR/2+1])/2}'; }
range() { sort -g | awk 'NR==1{lo=$1} {hi=$1} END {print lo "–" hi}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
verdict() { awk -v v="$1" -v aim="$2" 'BEGIN {print (v != "-" && v + 0 <= aim + 0) ? "meets" : "**misses**"}'; }
