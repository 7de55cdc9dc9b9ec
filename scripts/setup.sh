#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need. Quick when all are present.
set -euo pipefail
packages=(juce-modules-source cmake ninja-build g++ pkgconf ccache libgtest-dev libbenchmark-dev libexpat1-dev
          xvfb x11-utils fonts-dejavu-core fonts-roboto-unhinted clang libclang-rt-14-dev
          libasound2-dev libfreetype-dev libfontconfig1-dev libx11-dev
          libxcomposite-dev libxcursor-dev libxext-dev libxinerama-dev libxrandr-dev libxrender-dev
          libgl-dev ardour lv2-dev sordi liblilv-dev rev-plugins ladspa-sdk)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
