# Reads apt's sources in both forms Debian 12 uses: the deb822 files
# (*.sources: "Types:", "URIs:", "Suites:", ...) and the classic one-line
# files (sources.list, *.list: "deb [options] URI suite components").
# Sourced, not run. APT_SOURCES_DIR (default /etc/apt) lets a test point it
# at fixture files.

apt_source_files() {
  local d="${APT_SOURCES_DIR:-/etc/apt}" f
  for f in "$d/sources.list" "$d"/sources.list.d/*.list "$d"/sources.list.d/*.sources; do
    [ -f "$f" ] && printf '%s\n' "$f"
  done
  return 0
}

# Prints one line per enabled entry: "TYPE URI SUITE OPTION..." where the
# options are the entry's Signed-By (as signed-by=...), if any. Comments and
# disabled entries ("Enabled: no") are left out.
apt_entries() {
  local f
  while IFS= read -r f; do
    case $f in
      *.sources)
        awk '
          function flush() {
            if (types != "" && uris != "" && enabled != "no") {
              nt = split(types, t, " "); nu = split(uris, u, " "); ns = split(suites, s, " ")
              for (i = 1; i <= nt; i++) for (j = 1; j <= nu; j++) for (k = 1; k <= (ns ? ns : 1); k++)
                print t[i], u[j], (ns ? s[k] : "-"), (signed != "" ? "signed-by=" signed : "")
            }
            types = uris = suites = signed = ""; enabled = "yes"
          }
          BEGIN { enabled = "yes" }
          /^[ \t]*#/ { next }
          /^[ \t]*$/ { flush(); next }
          {
            key = tolower($1); sub(/:$/, "", key); $1 = ""; sub(/^[ \t]+/, ""); val = $0
            if (key == "types") types = val
            else if (key == "uris") uris = val
            else if (key == "suites") suites = val
            else if (key == "enabled") enabled = tolower(val)
            else if (key == "signed-by") signed = val
          }
          END { flush() }' "$f"
        ;;
      *)
        awk '
          /^[ \t]*(#|$)/ { next }
          $1 == "deb" || $1 == "deb-src" {
            type = $1; opts = ""; i = 2
            if ($2 ~ /^\[/) {
              while (i <= NF) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } i++ }
            }
            signed = ""
            if (match(opts, /signed-by=[^] ]+/)) signed = substr(opts, RSTART, RLENGTH)
            print type, $i, $(i + 1), signed
          }' "$f"
        ;;
    esac
  done < <(apt_source_files)
}

# True when some enabled entry fetches sources (deb-src).
apt_has_deb_src() { apt_entries | awk '$1 == "deb-src" { found = 1 } END { exit !found }'; }

# The archive's mirror: the URI of the first enabled "deb" entry for Debian's
# main suite (not -security or -updates), else of the first "deb" entry.
apt_mirror() {
  apt_entries | awk '
    $1 != "deb" { next }
    first == "" { first = $2 }
    $3 !~ /-/ && main == "" { main = $2 }
    END { if (main != "") print main; else if (first != "") print first; else exit 1 }'
}

# The Signed-By of the mirror's entry, if it names one.
apt_mirror_key() {
  local m
  m=$(apt_mirror) || return 1
  apt_entries | awk -v m="$m" '$1 == "deb" && $2 == m && $4 ~ /^signed-by=/ { sub(/^signed-by=/, "", $4); print $4; exit }'
}

# Runs an apt-get update command, given whole, again after a pause when it
# fails: a mirror caught in the middle of a sync serves an index that does
# not match its Release file ("File has unexpected size ... Mirror sync in
# progress?") for a minute or two. The pauses, in seconds, are
# APT_UPDATE_PAUSES (default "15 45 90").
apt_update_retrying() {
  local pause
  for pause in ${APT_UPDATE_PAUSES:-15 45 90}; do
    "$@" && return 0
    echo "apt: reading the package lists failed; trying again in $pause s" >&2
    sleep "$pause"
  done
  "$@"
}

# The suites whose package lists an apt-get update could not read, from its
# output ("Failed to fetch URI/dists/SUITE/..."), one per line.
apt_unreadable_suites() { # $1 the update's output
  sed -n 's|.*Failed to fetch [^ ]*/dists/\([^/ ]*\)/.*|\1|p' "$1" | sort -u
}

# An apt preferences file that ranks the packages of those suites below
# every other suite's (and below what is installed).
apt_pin_below() { # suites
  local s
  for s in "$@"; do
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\nPackage: *\nPin: release a=%s\nPin-Priority: 100\n\n' "$s" "$s"
  done
}

# A package installed for two architectures has the same version in both.
# Prints the installed packages of the machine's own architecture that must
# change version for the i386 packages of an install to go in (those whose
# i386 twin the install would bring at another version), each as two lines,
# PACKAGE:ARCH=VERSION and PACKAGE:i386=VERSION. The install is worked out
# as on a machine with nothing installed, with the options given (say a
# preferences file).
apt_twins_to_match() { # apt-get command and options... -- packages...
  local cmd=() empty arch p v status multiarch installed
  while [ $# -gt 0 ] && [ "$1" != -- ]; do cmd+=("$1"); shift; done
  shift
  arch=$(dpkg --print-architecture)
  empty=$(mktemp)
  "${cmd[@]}" -s -o Dir::State::status="$empty" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= \
      install --no-install-recommends "$@" 2>/dev/null |
    sed -n 's/^Inst \([^ ]*\):i386 (\([^ ]*\) .*/\1 \2/p' |
    while read -r p v; do
      read -r status multiarch installed < <(dpkg-query -W -f='${db:Status-Status} ${Multi-Arch} ${Version}\n' "$p:$arch" 2>/dev/null)
      [ "${status:-} ${multiarch:-}" = "installed same" ] && [ "$installed" != "$v" ] &&
        printf '%s\n' "$p:$arch=$v" "$p:i386=$v"
    done
  rm -f "$empty"
}
