#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Kelvara needs.
# Idempotent: when everything is already installed it only checks and returns.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config git
  # GUI, printing, sound prompts and microphone
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libqt6opengl6-dev libgl-dev
  qt6-qpa-plugins
  # XML, MP3 decoding, AAC encoding (non-free), FFmpeg libraries
  libtinyxml-dev libmp3lame-dev libfdk-aac-dev
  # SHA-256 and HMAC of the device protocol
  libssl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  # spreadsheets, compression, QR reference
  libfreexl-dev libgsf-1-dev zlib1g-dev libqrencode-dev
  # tests, benchmarks, fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  # outside oracles and test tools
  ffmpeg zbar-tools qrencode poppler-utils python3 python3-xlrd python3-xlwt 7zip curl
  iproute2 iputils-ping xvfb x11-apps imagemagick procps psmisc
  # a decimal-comma locale is built from these sources by the layout tests
  locales
  fonts-dejavu-core
)

# FDK-AAC lives in Debian's non-free component: add it for the same archive.
ensure_non_free() {
  if apt-cache policy 2>/dev/null | grep -q 'non-free/'; then return; fi
  if grep -rqs 'non-free' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null; then return; fi
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  local uri="http://deb.debian.org/debian"
  local src
  src=$(grep -hs '^URIs:' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1 | awk '{print $2}')
  [ -n "$src" ] && uri="$src"
  $SUDO tee /etc/apt/sources.list.d/kelvara-non-free.sources >/dev/null <<SRC
Types: deb
URIs: $uri
Suites: $codename $codename-updates
Components: non-free
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  NEED_UPDATE=1
}

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

NEED_UPDATE=1
ensure_non_free
echo "setup: installing ${#missing[@]} package(s): ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
