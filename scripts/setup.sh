#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Kelvara needs.
# Idempotent: when everything is already installed it only checks and returns.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config git mold
  # GUI, printing, sound prompts and microphone
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libqt6opengl6-dev libgl-dev
  qt6-qpa-plugins
  # XML, MP3 decoding, AAC encoding (non-free), FFmpeg libraries
  libtinyxml-dev libmp3lame-dev libfdk-aac-dev
  # SHA-256 of the device protocol's transfers; its login's key exchange
  libssl-dev libsodium-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  # the simulator's live streams: RTSP server, test sources, H.264/H.265 and G.711 encoders
  libgstrtspserver-1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-ugly gstreamer1.0-plugins-bad
  # spreadsheets, compression, QR reference
  libfreexl-dev libgsf-1-dev zlib1g-dev libqrencode-dev
  # tests, benchmarks, fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  # outside oracles and test tools
  ffmpeg zbar-tools qrencode poppler-utils python3 python3-xlrd python3-xlwt 7zip curl tftp-hpa
  # MP3 test files: LAME encoder and decoder, sox, APE tags through mutagen
  lame sox python3-mutagen
  iproute2 iputils-ping xvfb x11-apps imagemagick procps psmisc
  # a decimal-comma locale is built from these sources by the layout tests
  locales
  fonts-dejavu-core
  # the language menu names Chinese, Japanese and Korean in their own scripts
  fonts-noto-cjk
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

# FDK-AAC lives in Debian's non-free component.
bash "$(dirname "$0")/debian-non-free.sh"
echo "setup: installing ${#missing[@]} package(s): ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
