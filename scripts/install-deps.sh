#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Safe to run again: it installs only what is
# missing, and asks for package lists only then.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  zlib1g-dev libssl-dev libcurl4-openssl-dev libturbojpeg0-dev libcpp-httplib-dev libicu-dev
  attr e2fsprogs
  qt6-base-dev fonts-dejavu-core
  wine64 # a real wineserver, which the registry tests run beside the registry
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
