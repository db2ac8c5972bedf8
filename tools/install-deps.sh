#!/usr/bin/env bash
# Installs the Debian 12 packages Quillcast needs to build, run and test.
# Runs apt-get through sudo unless we already are root.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config
  # windowing toolkit
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # fonts the program and its font generator use
  fonts-liberation2 fonts-dejavu-core libfreetype-dev
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libtiff-dev libspandsp-dev
  python3 python3-dbfread python3-dbf
  xvfb xauth
)

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${PACKAGES[@]}"
