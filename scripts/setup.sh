#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config binutils
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsqlite3-dev libssl-dev libcurl4-openssl-dev nlohmann-json3-dev libboost-dev libcpp-httplib-dev libpugixml-dev
  python3 python3-botocore
)
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${PACKAGES[@]}" >/dev/null
echo "setup: packages installed"
