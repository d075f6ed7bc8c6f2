#!/usr/bin/env bash
# One table of the ratio lines in the given benchmark logs ("ratio A / B = R (goal <= G)" or
# ">= G"), each marked met or missed; the program is the log's name without ".log".
#
# usage: bench/ratio_summary.sh LOG...
set -euo pipefail

awk '
  function program(path) { sub(/.*\//, "", path); sub(/\.log$/, "", path); return path }
  # Google Benchmark may end its own output with a colour reset just before a ratio line.
  { gsub(/\033\[[0-9;]*m/, "") }
  /^ratio .* \/ .* = [0-9.e+-]+ \(goal (<=|>=) [0-9.]+\)$/ {
    line = $0
    sub(/^ratio /, "", line)
    split(line, parts, " = ")
    pair = parts[1]
    value = parts[2]; sub(/ .*/, "", value)
    form = parts[2]; sub(/^[^(]*\(goal /, "", form)
    goal = form; sub(/^[<>]= /, "", goal); sub(/\)$/, "", goal)
    sub(/ .*/, "", form)
    met = (form == "<=") ? (value + 0 <= goal + 0) : (value + 0 >= goal + 0)
    rows[++count] = sprintf("%-26s %-64s %8s %4s %-6s %s", program(FILENAME), pair, value, form, goal,
                            met ? "met" : "MISSED")
    missed += !met
  }
  END {
    printf "%-26s %-64s %8s %-11s %s\n", "program", "candidate / baseline", "ratio", "goal", "result"
    for (i = 1; i <= count; ++i) print rows[i]
    printf "%d ratios, %d met, %d missed\n", count, count - missed, missed
  }
' "$@"
