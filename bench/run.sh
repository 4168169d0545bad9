#!/bin/sh
# Start-up benchmark of the launcher. Not a test: it prints figures and
# compares them with the targets, and exits 0 whatever they are.
#
#   ./bench/run.sh            (as root it installs missing tools with apt-get)
#
# What it measures, all in one run and side by side:
#   instructions  callgrind: the launcher's instructions until it replaces
#                 itself with an installed agent, against /bin/true; the same
#                 with -log, without locale variables, in -wait mode (the
#                 launcher's own process only) and for the i386 build
#   wall time     hyperfine: the launcher starting an installed agent that
#                 exits at once, against the agent started directly; the same
#                 with -wait and -log; the first run (probe, installer, probe,
#                 agent) against the installer and the agent alone
#   peak memory   /usr/bin/time: maximum resident set size
#   GTK           the dynamic loader's trace: no GTK library on a run that
#                 shows no message
# Targets: launcher instructions <= 2.0 x /bin/true; launcher + agent <=
# 1.3 x agent alone in wall time; no GTK library loaded without a dialog.
#
# Environment: BUILD_DIR (default build-bench), RUNS (hyperfine runs per
# command, default 1000), BENCH_LANG (the locale the runs get, default
# C.UTF-8; empty for none).
set -eu

cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
runs=${RUNS:-1000}
lang=${BENCH_LANG-C.UTF-8}

# --- Tools -----------------------------------------------------------------

missing=
for tool in valgrind:valgrind callgrind_annotate:valgrind hyperfine:hyperfine \
            /usr/bin/time:time cc:gcc cmake:cmake; do
  command -v "${tool%%:*}" >/dev/null 2>&1 || missing="$missing ${tool#*:}"
done
if [ -n "$missing" ]; then
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq && apt-get install -y -qq $missing >/dev/null
  else
    echo "bench: missing tools; install the Debian packages:$missing" >&2
    exit 1
  fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/launcher-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# --- Build -----------------------------------------------------------------

echo "Building the launcher in $build/ ..."
have32=0
if printf 'int main(void){return 0;}\n' | cc -m32 -x c -o "$work/probe32" - 2>/dev/null; then
  have32=1
fi
targets=launcher
[ $have32 -eq 0 ] || targets="launcher launcher32"
if ! { cmake -S . -B "$build" -DBUILD_TESTING=OFF -DLAUNCHER_M32=ON &&
       cmake --build "$build" -j2 --target $targets; } > "$work/build.log" 2>&1; then
  cat "$work/build.log"
  exit 1
fi
cc -O2 -o "$work/agent" bench/tiny-agent.c
cc -O2 -o "$work/installer" bench/tiny-installer.c
cc -O2 -o "$work/exec-only" bench/exec-only.c
[ $have32 -eq 0 ] || cc -m32 -O2 -o "$work/agent32" bench/tiny-agent.c

# --- Package and home directory ---------------------------------------------

home=$work/home
mkdir -p "$home/.bench-agent" "$home/agent/eclipse/configuration" "$home/data"
cp "$work/agent" "$home/agent/agent"
agent=$home/agent/agent
key=$home/.bench-agent/location

make_package() {  # directory launcher
  mkdir -p "$1"
  cp "$2" "$1/setup"
  cp "$work/installer" "$1/installer"
  cat > "$1/setup.ini" <<'EOF'
[INSTALLER]
LOCATION=installer
[MANAGER]
LOCATION_KEY=.bench-agent/location
VERSION=1.0.0
LAUNCHER=agent
[COMMON]
ISADMIN=false
EOF
}
make_package "$work/pkg" "$build/launcher"
[ $have32 -eq 0 ] || make_package "$work/pkg32" "$build/launcher32"
setup=$work/pkg/setup
log=$work/run.log

# Every run gets the same small environment, so that the figures do not
# depend on the caller's: a locale is set up from it at start-up, and
# environment size alone changes the loader's work.
run_env() {
  if [ -n "$lang" ]; then
    env -i HOME="$home" PATH=/usr/bin:/bin LANG="$lang" "$@"
  else
    env -i HOME="$home" PATH=/usr/bin:/bin "$@"
  fi
}

install_agent() {
  run_env "$work/installer"
}
# Removes every file the installer writes, so that each first run finds no
# agent and the installer creates its files afresh, as on a real first run
# (rewriting a file that was written a moment ago makes ext4 wait for the
# disk, which would time the disk, not the launcher).
installed_files="$key $home/agent/eclipse/configuration/config.ini $home/data/installed.xml"
uninstall_agent() {
  rm -f $installed_files
}
install_agent

# --- Instructions -------------------------------------------------------------

cg=$work/cg
# Instructions until the process calls execve: callgrind writes its counts
# when the call is entered; what the agent does afterwards is not traced.
count_until_exec() {
  rm -rf "$cg" && mkdir "$cg"
  run_env valgrind --tool=callgrind --dump-before=execve \
    --callgrind-out-file="$cg/out.%p" "$@" >/dev/null 2>&1 || true
  sed -n 's/^summary: //p' "$cg"/out.*.1 2>/dev/null | head -n 1
}
# Instructions of one process from its start to its exit; a child that it
# starts runs outside callgrind.
count_until_exit() {
  rm -rf "$cg" && mkdir "$cg"
  run_env valgrind --tool=callgrind --callgrind-out-file=/dev/null \
    --log-file="$cg/log" "$@" >/dev/null 2>&1 || true
  sed -n 's/.*Collected : *//p' "$cg/log" | head -n 1
}
ratio() {  # a b -> a/b with two decimals, or "-"
  if [ -n "$1" ] && [ -n "$2" ] && [ "$2" != 0 ]; then
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
  else
    echo "-"
  fi
}

echo "Counting instructions ..."
true_ir=$(count_until_exit /bin/true)
exec_ir=$(count_until_exec "$setup")
cp "$cg"/out.*.1 "$work/exec.callgrind" 2>/dev/null || true
log_exec_ir=$(count_until_exec "$setup" -log "$log")
wait_ir=$(count_until_exit "$setup" -wait)
wait_log_ir=$(count_until_exit "$setup" -wait -log "$log")
saved_lang=$lang
lang=
true_nolocale_ir=$(count_until_exit /bin/true)
exec_nolocale_ir=$(count_until_exec "$setup")
lang=$saved_lang
if [ $have32 -eq 1 ]; then
  true32_ir=$(count_until_exit "$work/agent32")
  exec32_ir=$(count_until_exec "$work/pkg32/setup")
fi

# --- Wall time ------------------------------------------------------------------

hf() {  # csv-file hyperfine-arguments...
  out=$1
  shift
  run_env hyperfine -N --style none --warmup 50 --runs "$runs" \
    --export-csv "$out" "$@" > "$work/hyperfine.out" 2>&1 ||
    { cat "$work/hyperfine.out" >&2; return 1; }
}
# Median, minimum and mean in microseconds of the n-th command of a CSV file.
median_us() {
  awk -F, -v n="$2" 'NR == n + 1 { printf "%.0f", $4 * 1e6 }' "$1"
}
min_us() {
  awk -F, -v n="$2" 'NR == n + 1 { printf "%.0f", $7 * 1e6 }' "$1"
}
mean_us() {
  awk -F, -v n="$2" 'NR == n + 1 { printf "%.0f ± %.0f", $2 * 1e6, $3 * 1e6 }' "$1"
}

echo "Timing $runs runs per command ..."
# The log is removed before each run, for the same reason (see
# uninstall_agent).
hf "$work/start.csv" \
  --prepare true --prepare true --prepare true --prepare true --prepare "rm -f $log" \
  "$agent" "$work/exec-only $agent" "$setup" "$setup -wait" "$setup -log $log"
first_runs=$((runs / 4))
[ $first_runs -ge 50 ] || first_runs=50
run_env hyperfine -N --style none --warmup 20 --runs "$first_runs" \
  --prepare "rm -f $installed_files" --export-csv "$work/first.csv" \
  "$setup" "$work/installer" "$agent" > "$work/hyperfine.out" 2>&1 ||
  { cat "$work/hyperfine.out" >&2; exit 1; }
install_agent

# --- Peak memory ------------------------------------------------------------------

maxrss() {
  run_env /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>&1 || true
  tail -n 1 "$work/rss"
}
echo "Measuring peak memory ..."
rss_true=$(maxrss /bin/true)
rss_agent=$(maxrss "$agent")
rss_exec=$(maxrss "$setup")
rss_wait=$(maxrss "$setup" -wait)
rss_log=$(maxrss "$setup" -log "$log")
uninstall_agent
rss_first=$(maxrss "$setup")
install_agent

# --- GTK ------------------------------------------------------------------------

# Shared objects the dynamic loader maps, the launcher's and its children's.
gtk_loads() {
  run_env env LD_DEBUG=files "$@" 2>&1 >/dev/null |
    grep -E 'file=[^ ]*lib(gtk|gdk|glib|gobject).*(needed|loaded) by' |
    wc -l
}
gtk_runs="exec:$(gtk_loads "$setup")"
gtk_runs="$gtk_runs wait:$(gtk_loads "$setup" -wait)"
gtk_runs="$gtk_runs log:$(gtk_loads "$setup" -log "$log")"
gtk_runs="$gtk_runs silent:$(gtk_loads "$setup" -silent)"
uninstall_agent
gtk_runs="$gtk_runs first-run:$(gtk_loads "$setup")"
install_agent
gtk_total=0
for entry in $gtk_runs; do
  gtk_total=$((gtk_total + ${entry#*:}))
done
# A run that must show a message (the usage) loads a toolkit: proof that the
# trace above would have seen it. A display must be named for that; a
# Wayland socket that does not exist lets the toolkit load and then fail, so
# the message goes to standard error instead of waiting for a click.
gtk_dialog=$(gtk_loads env WAYLAND_DISPLAY=launcher-bench-none "$setup" -help)

# --- Report --------------------------------------------------------------------------

agent_med=$(median_us "$work/start.csv" 1)
agent_min=$(min_us "$work/start.csv" 1)
floor_med=$(median_us "$work/start.csv" 2)
setup_med=$(median_us "$work/start.csv" 3)
first_med=$(median_us "$work/first.csv" 1)
children_med=$(( $(median_us "$work/first.csv" 2) + $(median_us "$work/first.csv" 3) ))
children_min=$(( $(min_us "$work/first.csv" 2) + $(min_us "$work/first.csv" 3) ))

echo
if [ -n "$lang" ]; then env_text="HOME, PATH, LANG=$lang"; else env_text="HOME, PATH"; fi
echo "Launcher start-up on $(uname -m); every run's environment: $env_text"
echo
echo "Instructions (callgrind)                           count  x baseline"
printf '  %-44s %9s\n' "/bin/true (baseline)" "$true_ir"
printf '  %-44s %9s  %s\n' "launcher until it execs the agent" "$exec_ir" "$(ratio "$exec_ir" "$true_ir")"
printf '  %-44s %9s  %s\n' "launcher -log until it execs the agent" "$log_exec_ir" "$(ratio "$log_exec_ir" "$true_ir")"
printf '  %-44s %9s  %s\n' "launcher -wait, its own process" "$wait_ir" "$(ratio "$wait_ir" "$true_ir")"
printf '  %-44s %9s  %s\n' "launcher -wait -log, its own process" "$wait_log_ir" "$(ratio "$wait_log_ir" "$true_ir")"
printf '  %-44s %9s\n' "/bin/true, no locale variables" "$true_nolocale_ir"
printf '  %-44s %9s  %s\n' "launcher until exec, no locale variables" "$exec_nolocale_ir" "$(ratio "$exec_nolocale_ir" "$true_nolocale_ir")"
if [ $have32 -eq 1 ]; then
  printf '  %-44s %9s\n' "i386: a C program that returns 0 (baseline)" "$true32_ir"
  printf '  %-44s %9s  %s\n' "i386: launcher32 until it execs the agent" "$exec32_ir" "$(ratio "$exec32_ir" "$true32_ir")"
fi

echo
echo "  Where the launcher's instructions go (until exec, inclusive):"
callgrind_annotate --inclusive=yes "$work/exec.callgrind" 2>/dev/null |
  awk -v total="$exec_ir" '
    function show(label, pattern) {
      for (i = 1; i <= n; i++) if (lines[i] ~ pattern) {
        split(lines[i], f, " "); gsub(",", "", f[1])
        printf "    %-42s %9d  %4.1f%%\n", label, f[1], 100 * f[1] / total
        return
      }
    }
    { lines[++n] = $0 }
    END {
      show("dynamic loader: map and link the program", "rtld.c:_dl_start ")
      show("own steps of the launcher, of which", "launcherMain")
      show("  reading the INI file", "processINI")
      show("  looking for the agent (3 files)", "getInstalledAgentInfo")
      show("  composing the agent'"'"'s command line", "createAgentArgList")
      show("  finding its own path", "getLauncherInfo")
    }'

echo
echo "Wall time (hyperfine -N, µs)               median  x agent    min  x agent  mean ± σ"
row() {  # label csv n [compare]
  med=$(median_us "$2" "$3")
  min=$(min_us "$2" "$3")
  if [ -n "${4:-}" ]; then
    printf '  %-40s %7s  %7s %6s  %7s  %s\n' "$1" "$med" "$(ratio "$med" "$agent_med")" \
      "$min" "$(ratio "$min" "$agent_min")" "$(mean_us "$2" "$3")"
  else
    printf '  %-40s %7s  %7s %6s  %7s  %s\n' "$1" "$med" "" "$min" "" "$(mean_us "$2" "$3")"
  fi
}
echo "  $runs runs each, paired in one invocation:"
row "agent alone (baseline)" "$work/start.csv" 1 yes
row "exec-only C program + agent (floor)" "$work/start.csv" 2 yes
row "launcher + agent" "$work/start.csv" 3 yes
row "launcher -wait + agent" "$work/start.csv" 4 yes
row "launcher -log + agent" "$work/start.csv" 5 yes
echo "  first run, $first_runs runs each, paired in one invocation:"
row "installer alone" "$work/first.csv" 2
row "agent alone" "$work/first.csv" 3
printf '  %-40s %7s  %7s %6s\n' "installer + agent (sum, baseline)" "$children_med" "" "$children_min"
printf '  %-40s %7s  %7s %6s  %7s  %s\n' "launcher: probe, installer, probe, agent" "$first_med" \
  "$(ratio "$first_med" "$children_med")" "$(min_us "$work/first.csv" 1)" \
  "$(ratio "$(min_us "$work/first.csv" 1)" "$children_min")" "$(mean_us "$work/first.csv" 1)"
echo "  (the first-run ratios compare with installer + agent, not with the agent)"

echo
echo "Peak memory (max RSS, KiB)"
printf '  %-44s %7s\n' "/bin/true" "$rss_true" "agent alone" "$rss_agent" \
  "launcher + agent" "$rss_exec" "launcher -wait + agent" "$rss_wait" \
  "launcher -log + agent" "$rss_log" "first run" "$rss_first"

echo
echo "GTK libraries mapped (LD_DEBUG=files)"
echo "  runs without a message: $gtk_runs"
echo "  control, a run that shows the usage message: $gtk_dialog"

echo
echo "Targets"
verdict() {  # value limit label
  if [ "$1" = "-" ]; then
    printf '  %-58s %s\n' "$3" "no figure"
  elif awk -v v="$1" -v l="$2" 'BEGIN { exit !(v <= l) }'; then
    printf '  %-58s %s <= %s  met\n' "$3" "$1" "$2"
  else
    printf '  %-58s %s > %s  MISSED\n' "$3" "$1" "$2"
  fi
}
verdict "$(ratio "$exec_ir" "$true_ir")" 2.0 "instructions until exec / /bin/true"
verdict "$(ratio "$wait_ir" "$true_ir")" 2.0 "instructions, -wait, own process / /bin/true"
verdict "$(ratio "$setup_med" "$agent_med")" 1.3 "wall time, launcher + agent / agent alone (medians)"
echo "  (the floor, a C program that only execs the agent: $(ratio "$floor_med" "$agent_med") x agent alone)"
verdict "$gtk_total" 0 "GTK libraries mapped on runs without a message"
