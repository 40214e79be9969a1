#!/usr/bin/env bash
# Validates every VST 2 module of Debian's dpf-plugins-vst, lsp-plugins-vst and
# zam-plugins with build/linux64/vstrun, one at a time under nice, and writes
# docs/validate-survey.md. Takes an hour or more; run on request, not by test.sh.
#
#   scripts/validate-survey.sh               the whole survey (builds vstrun first)
#   scripts/validate-survey.sh --resume      go on where a cut-short survey stopped
#   scripts/validate-survey.sh --match lsp   only modules whose path contains "lsp"
#   scripts/validate-survey.sh report        only regenerate the page from build/survey/
#   scripts/validate-survey.sh -- --level 2  extra arguments for vstrun validate
#
# Raw output of each module stays in build/survey/. Editors are opened on the
# X display in DISPLAY; without one the script starts an Xvfb of its own (hosts
# have a display when they ask for an editor, and some plug-ins crash without).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = report ]; then
  shift
  exec python3 "$ROOT/scripts/validate-survey.py" report "$@"
fi
if [ -z "${VANTOREL_SURVEY_NO_BUILD:-}" ]; then
  [ -f "$ROOT/build/linux64/build.ninja" ] || (cd "$ROOT" && cmake --preset linux64 >/dev/null)
  (cd "$ROOT" && nice -n 10 cmake --build build/linux64 --target vstrun >/dev/null)
fi
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  fd=$(mktemp)
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$fd" >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill "$xvfb" 2>/dev/null; rm -f "$fd"' EXIT
  for _ in $(seq 50); do [ -s "$fd" ] && break; sleep 0.1; done
  [ -s "$fd" ] && export DISPLAY=":$(head -1 "$fd")"
fi
python3 "$ROOT/scripts/validate-survey.py" run "$@"
python3 "$ROOT/scripts/validate-survey.py" report
