#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12. Safe to run again: it only installs
# packages that are missing, and runs apt-get only then.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  mingw-w64 wine wine64 xvfb xauth
  googletest libgtest-dev
  openjdk-17-jdk-headless
  icoutils
  libtomlplusplus-dev libcli11-dev libstb-dev nlohmann-json3-dev
  osslsigncode openssl
  clang libclang-rt-14-dev llvm
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
