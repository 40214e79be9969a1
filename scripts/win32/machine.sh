#!/usr/bin/env bash
# The emulated x86_64 machine that runs Wine, both halves
# (scripts/win32/image.sh builds it): booted on first use, kept running, sent
# one program per job, into its 32-bit prefix or its WoW64 one.
#
#   machine.sh run win32|wow64 PROGRAM [ARGS...]   boots if needed, runs, returns its status
#   machine.sh start                               boots it now
#   machine.sh stop                                powers it off
#
# The repository is shared at its own path (9p), a second time as it is
# (reporaw: without the machine's binds over its programs), and so is a job
# folder:
# a job is NAME.new (argv, cwd, timeout, kind, env) that the machine's agent
# turns into NAME.done (out, err, rc). Of this side's environment the program
# gets GoogleTest's variables (GTEST_*), as Wine passes them here, and no
# others. The disk runs as a snapshot: the image never changes, and every
# boot starts from the prefixes as the image has them.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
# The image made from this checkout's guest scripts: a machine with another
# agent would run programs differently.
IMG="$W32_IMAGES/$(w32_image_version)"
# One machine per checkout and prefix name: it shares that repository and no
# other, and whoever names prefixes of their own (VANTOREL_WINEPREFIX) gets a
# machine of their own, booted from the image's untouched disk.
VM="$W32_RUN/machine-$(w32_key "$W32_ROOT ${VANTOREL_WINEPREFIX:-$W32_CACHE/wineprefix}")"
JOBS="$VM/jobs"

vm_up() { w32_alive "$VM/qemu.pid" && [ -f "$JOBS/ready" ]; }

start() {
  mkdir -p "$VM"
  (
    flock 9
    vm_up && exit 0
    stop_locked
    [ -f "$IMG/version" ] ||
      { echo "win32-run: no machine image for these guest scripts in $IMG (scripts/win32/image.sh builds it; scripts/deps.sh runs that)" >&2; exit 1; }
    rm -rf "$JOBS"; mkdir -p "$JOBS"
    # The bell: the machine's second serial port, a byte for each job sent.
    rm -f "$VM/bell.in" "$VM/bell.out"
    mkfifo "$VM/bell.in" "$VM/bell.out" || exit 1
    setsid "${W32_QEMU[@]}" \
      -display none -nic none -monitor none -serial "file:$VM/console.log" -serial "pipe:$VM/bell" -no-reboot \
      -kernel "$IMG/vmlinuz" -initrd "$IMG/initrd.gz" \
      -append "$W32_KERNEL_ARGS vmode=serve vroot=$W32_ROOT" \
      -drive "file=$IMG/root.img,if=virtio,format=raw" -snapshot \
      -virtfs "local,path=$W32_ROOT,mount_tag=repo,security_model=none" \
      -virtfs "local,path=$W32_ROOT,mount_tag=reporaw,security_model=none" \
      -virtfs "local,path=$JOBS,mount_tag=jobs,security_model=none" \
      </dev/null >"$VM/qemu.log" 2>&1 9>&- &
    echo $! >"$VM/qemu.pid"
    # A few seconds on a quiet machine; minutes on a busy one.
    local pid
    pid=$(cat "$VM/qemu.pid")
    for _ in $(seq 1800); do
      [ -f "$JOBS/ready" ] && exit 0
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.5
    done
    echo "win32-run: the emulated machine did not come up:" >&2
    tail -n 30 "$VM/console.log" "$VM/qemu.log" >&2
    stop_locked
    exit 1
  ) 9>"$VM.lock"
}

stop_locked() {
  if w32_alive "$VM/qemu.pid"; then
    local pid
    pid=$(cat "$VM/qemu.pid")
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -f "$VM/qemu.pid"
}

# What the machine copies to its disk before a job (it cannot run programs
# and DLLs from the shared folder), one "PATH<tab>SIZE.TIME" line each, PATH
# relative to the repository: every program and DLL under build/win32, and
# each that an argument names anywhere in the repository (plain, relative to
# the job's folder, as a Z: path with either slash, or as an --option=value's
# value) with the others in its folder. Listed here, at the host's speed.
job_files() { # $1 the job's folder, then its arguments
  local cwd=$1 a p
  shift
  {
    find "$W32_ROOT/build/win32/" \( -name CMakeFiles -o -name _deps \) -prune -o \
      -type f \( -iname '*.exe' -o -iname '*.dll' \) -printf '%p\t%s.%T@\n' 2>/dev/null
    for a in "$@"; do
      for p in "$a" "${a#*=}"; do
        p=${p//\\//}
        case $p in [Zz]:/*) p=${p:2} ;; esac
        case $p in /*) ;; *) p="$cwd/$p" ;; esac
        case ${p,,} in *.exe|*.dll) ;; *) continue ;; esac
        p=$(realpath -ms -- "$p")
        case $p in "$W32_ROOT"/*) ;; *) continue ;; esac
        [ -f "$p" ] && find "${p%/*}/" -maxdepth 1 -type f \( -iname '*.exe' -o -iname '*.dll' \) -printf '%p\t%s.%T@\n'
      done
    done
  } | awk -v r="$W32_ROOT/" 'index($0, r) == 1 { print substr($0, length(r) + 1) }' | sort -u
}

# Wakes the machine's agent for a new job; without a bell (a machine booted
# by an older script) it finds the job by itself within a second.
ring() {
  local fd
  [ -p "$VM/bell.in" ] || return 0
  exec {fd}<>"$VM/bell.in" || return 0
  printf j >&"$fd"
  exec {fd}>&-
}

run() { # $1 win32 | wow64, then the program and its arguments
  local kind=$1
  shift
  start || exit 1
  local id job rc
  id="$$-$RANDOM$RANDOM"
  job="$JOBS/$id"
  mkdir "$job.tmp"
  printf '%s\0' "$@" >"$job.tmp/argv"
  local cwd
  cwd=$(pwd)
  case $cwd in "$W32_ROOT"|"$W32_ROOT"/*) ;; *) cwd=$W32_ROOT ;; esac
  echo "$cwd" >"$job.tmp/cwd"
  echo "$W32_TIMEOUT" >"$job.tmp/timeout"
  echo "$kind" >"$job.tmp/kind"
  local v
  for v in $(compgen -e -- GTEST_); do printf '%s=%s\0' "$v" "${!v}"; done >"$job.tmp/env"
  job_files "$cwd" "$@" >"$job.tmp/files"
  mv "$job.tmp" "$job.new"
  ring
  # The machine enforces the limit; this wait only outlasts it. It waits
  # without starting a process each time round (read -t on a pipe nobody
  # writes to), leaving the processors to the machine.
  local deadline=$((SECONDS + W32_TIMEOUT + 60)) pid tick
  pid=$(cat "$VM/qemu.pid")
  [ -p "$VM/tick" ] || mkfifo "$VM/tick" 2>/dev/null
  exec {tick}<>"$VM/tick"
  while [ ! -d "$job.done" ]; do
    if [ $SECONDS -gt $deadline ] || ! kill -0 "$pid" 2>/dev/null; then
      echo "win32-run: no answer from the emulated machine for $*" >&2
      rm -rf "$job.new" "$job.run"
      exit 125
    fi
    read -r -t 0.05 -u "$tick" _
  done
  rc=$(cat "$job.done/rc" 2>/dev/null || echo 125)
  cat "$job.done/out"
  cat "$job.done/err" >&2
  rm -rf "$job.done"
  [ "$rc" -eq 124 ] && echo "win32-run: stopped after ${W32_TIMEOUT} s: $*" >&2
  exit "$rc"
}

case "${1:-}" in
  run) shift; run "$@" ;;
  start) start ;;
  stop) [ -d "$VM" ] || exit 0; ( flock 9; stop_locked ) 9>"$VM.lock" ;;
  *) echo "usage: $0 run win32|wow64 PROGRAM [ARGS...] | start | stop" >&2; exit 2 ;;
esac
