#!/usr/bin/env bash
# Makes sure apt sees Debian's "non-free" component (FDK-AAC lives there). When no
# Debian entry of this release carries it, adds one for the archive the machine's own
# sources already use: same address, same release suites, same key. Never guesses an
# archive address: with no Debian source configured it stops and says so.
# Idempotent: once an entry carries non-free it only checks.
# APT_ETC and OS_RELEASE point it at another apt configuration (the tests use that).
set -euo pipefail

apt_etc=${APT_ETC:-/etc/apt}
os_release=${OS_RELEASE:-/etc/os-release}
target="$apt_etc/sources.list.d/kelvara-non-free.sources"

# Every enabled source entry, one line per address and suite:
#   type <TAB> uri <TAB> suite <TAB> components <TAB> signed-by   ("-" when empty)
# from the one-line format (sources.list, *.list) and the deb822 format (*.sources).
list_entries() {
  shopt -s nullglob
  local files=()
  [ -f "$apt_etc/sources.list" ] && files+=("$apt_etc/sources.list")
  files+=("$apt_etc"/sources.list.d/*.list "$apt_etc"/sources.list.d/*.sources)
  [ ${#files[@]} -gt 0 ] || return 0
  awk '
    function emit(types, uris, suites, comps, signed,   nt, nu, ns, t, u, s, ty, ur, su) {
      nt = split(types, ty, " "); nu = split(uris, ur, " "); ns = split(suites, su, " ")
      for (t = 1; t <= nt; t++) for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++)
        printf "%s\t%s\t%s\t%s\t%s\n", ty[t], ur[u], su[s], (comps == "" ? "-" : comps), \
               (signed == "" ? "-" : signed)
    }
    function flush() {
      if (in_stanza && tolower(f["enabled"]) != "no")
        emit(f["types"], f["uris"], f["suites"], f["components"], f["signed-by"])
      split("", f); in_stanza = 0; key = ""
    }
    FNR == 1 { flush(); deb822 = (FILENAME ~ /\.sources$/) }
    deb822 {
      if ($0 ~ /^#/) next
      if ($0 ~ /^[ \t]*$/) { flush(); next }
      if ($0 ~ /^[ \t]/) {              # continuation of the field above
        if (key != "") { line = $0; gsub(/^[ \t]+|[ \t]+$/, "", line); f[key] = f[key] " " line }
        next
      }
      colon = index($0, ":")
      if (colon == 0) next
      key = tolower(substr($0, 1, colon - 1))
      val = substr($0, colon + 1); gsub(/^[ \t]+|[ \t]+$/, "", val)
      f[key] = val; in_stanza = 1
      next
    }
    {
      line = $0; sub(/#.*/, "", line)
      n = split(line, w, " ")
      if (n < 3) next
      i = 2; signed = ""
      if (substr(w[i], 1, 1) == "[") {   # options: [ key=value ... ]
        opts = ""
        while (i <= n) { opts = opts " " w[i]; if (w[i] ~ /\]$/) break; i++ }
        i++
        gsub(/[\[\]]/, " ", opts)
        m = split(opts, o, " ")
        for (j = 1; j <= m; j++) if (tolower(o[j]) ~ /^signed-by=/) signed = substr(o[j], 11)
      }
      if (i + 1 > n) next
      comps = ""
      for (j = i + 2; j <= n; j++) comps = comps (comps == "" ? "" : " ") w[j]
      emit(w[1], w[i], w[i + 1], comps, signed)
    }
    END { flush() }
  ' "${files[@]}"
}

# The release this machine runs; only Debian's own archive is extended.
os_id=$( (. "$os_release" 2>/dev/null && echo "${ID:-}") || true)
codename=$( (. "$os_release" 2>/dev/null && echo "${VERSION_CODENAME:-}") || true)
if [ "$os_id" != "debian" ]; then
  echo "setup: this is not Debian ($os_release says ID=${os_id:-nothing}); add Debian's non-free" \
       "component to the apt sources by hand, then run again" >&2
  exit 1
fi
# Unstable names no codename in os-release.
bases=${codename:-"sid unstable"}

# A Debian entry of this release: binary packages, signed by Debian's archive key or
# by the system's trusted keys (no Signed-By).
of_release() {  # type suite signed-by
  [ "$1" = "deb" ] && [[ " $bases " == *" $2 "* ]] && { [ "$3" = "-" ] || [[ "$3" == *debian-archive* ]]; }
}

uri=""
signed=""
while IFS=$'\t' read -r type u suite comps sig; do
  of_release "$type" "$suite" "$sig" || continue
  if [[ " $comps " == *" non-free "* ]]; then exit 0; fi  # already there
  if [ -z "$uri" ] && [[ " $comps " == *" main "* ]]; then uri=$u; signed=$sig; fi
done < <(list_entries)

if [ -z "$uri" ]; then
  echo "setup: no Debian archive for ${codename:-unstable} in the apt sources" \
       "($apt_etc/sources.list, $apt_etc/sources.list.d/*.list, *.sources);" \
       "add your Debian mirror with the main component, then run again" >&2
  exit 1
fi

# The suites this machine takes from that archive: the release and its updates.
suites=""
while IFS=$'\t' read -r type u suite comps sig; do
  [ "$type" = "deb" ] && [ "$u" = "$uri" ] || continue
  for b in $bases; do
    if [ "$suite" = "$b" ] || [ "$suite" = "$b-updates" ]; then
      [[ " $suites " == *" $suite "* ]] || suites="${suites:+$suites }$suite"
    fi
  done
done < <(list_entries)

entry="Types: deb
URIs: $uri
Suites: $suites
Components: non-free"
[ "$signed" != "-" ] && entry="$entry
Signed-By: $signed"

sudo=""
if [ ! -w "$(dirname "$target")" ] && [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: adding Debian's non-free component for $uri ($suites) in $target"
printf '%s\n' "$entry" | $sudo tee "$target" >/dev/null
