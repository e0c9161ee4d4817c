#!/usr/bin/env bash
# scripts/debian-non-free.sh against apt configurations in a temporary folder:
# both source formats, entries that must not count, idempotence, and the refusals.
set -uo pipefail
script="$(cd "$(dirname "$0")/.." && pwd)/debian-non-free.sh"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
KEY=/usr/share/keyrings/debian-archive-keyring.gpg

# case <name> <os-release ID> <expected exit> <expected added file or "none"> ; sources on stdin
# as "=== <file>" sections.
case_() {
  local name=$1 id=$2 want_rc=$3 want=$4
  local etc="$root/$name/etc/apt"
  mkdir -p "$etc/sources.list.d"
  printf 'ID=%s\nVERSION_CODENAME=bookworm\n' "$id" >"$root/$name/os-release"
  awk -v etc="$etc" '/^=== / { out = etc "/" $2; next } { print > out }'
  run() { APT_ETC="$etc" OS_RELEASE="$root/$name/os-release" bash "$script" >"$root/$name/out" 2>&1; }
  run; local rc=$?
  local added="$etc/sources.list.d/kelvara-non-free.sources" got="none"
  [ -f "$added" ] && got=$(cat "$added")
  if [ "$rc" != "$want_rc" ] || [ "$got" != "$want" ]; then
    echo "FAIL $name: exit $rc (want $want_rc)"; echo "got:"; echo "$got"; echo "want:"; echo "$want"
    cat "$root/$name/out"; failures=$((failures + 1)); return
  fi
  if [ "$rc" = 0 ]; then  # a second run changes nothing and says nothing
    run; rc=$?
    local again="none"; [ -f "$added" ] && again=$(cat "$added")
    if [ "$rc" != 0 ] || [ "$again" != "$got" ] || [ -s "$root/$name/out" ]; then
      echo "FAIL $name: second run not idempotent"; cat "$root/$name/out"; failures=$((failures + 1)); return
    fi
  elif ! grep -q 'run again' "$root/$name/out"; then
    echo "FAIL $name: refusal without a clear message"; cat "$root/$name/out"; failures=$((failures + 1)); return
  fi
  echo "ok   $name"
}

case_ deb822-main-only debian 0 "Types: deb
URIs: http://mirror.example.org/debian
Suites: bookworm bookworm-updates
Components: non-free
Signed-By: $KEY" <<SRC
=== sources.list.d/debian.sources
Types: deb
# a comment inside the stanza
URIs: http://mirror.example.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: $KEY

Types: deb
URIs: http://mirror.example.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: $KEY
SRC

case_ one-line-with-options debian 0 "Types: deb
URIs: http://ftp.de.example.net/debian/
Suites: bookworm
Components: non-free
Signed-By: $KEY" <<SRC
=== sources.list
# deb http://commented.example.org/debian bookworm main non-free
deb-src http://ftp.de.example.net/debian/ bookworm main non-free
deb [ arch=amd64 signed-by=/usr/share/keyrings/vendor.gpg ] https://vendor.example.com/apt bookworm main
deb [arch=amd64 signed-by=$KEY] http://ftp.de.example.net/debian/ bookworm main contrib non-free-firmware
deb http://security.example.net/debian-security bookworm-security main non-free
SRC

case_ list-file-already-non-free debian 0 none <<SRC
=== sources.list.d/mirror.list
deb http://deb.example.org/debian bookworm main contrib non-free
SRC

case_ deb822-disabled-non-free debian 0 "Types: deb
URIs: http://a.example.org/debian
Suites: bookworm
Components: non-free" <<SRC
=== sources.list.d/off.sources
Enabled: no
Types: deb
URIs: http://b.example.org/debian
Suites: bookworm
Components: main non-free
=== sources.list.d/on.sources
Types: deb-src deb
URIs: http://a.example.org/debian
Suites: bookworm
Components: main
SRC

case_ no-debian-source debian 1 none <<SRC
=== sources.list.d/node.sources
Types: deb
URIs: https://deb.example.com/node_20.x
Suites: nodistro
Components: main
Signed-By: /usr/share/keyrings/node.gpg
=== sources.list.d/vendor.list
deb [signed-by=/usr/share/keyrings/vendor.gpg] https://vendor.example.com/apt bookworm main
SRC

case_ no-sources-at-all debian 1 none </dev/null

case_ not-debian ubuntu 1 none <<SRC
=== sources.list
deb http://archive.example.com/ubuntu bookworm main
SRC

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
echo "all cases passed"
