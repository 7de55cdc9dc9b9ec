#!/usr/bin/env bash
# Builds the VST3 and LV2 plug-ins and copies their bundles to ~/.vst3 and ~/.lv2, where Linux hosts look.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$(nproc)" --target KestruneRoom_VST3 KestruneRoom_LV2

artefacts=build/release/processor/KestruneRoom_artefacts/RelWithDebInfo
install_bundle() { # bundle destination-folder
    mkdir -p "$2"
    rm -rf "$2/$(basename "$1")"
    cp -R "$1" "$2/"
    echo "installed $2/$(basename "$1")"
}
install_bundle "$artefacts/VST3/KestruneRoom.vst3" "$HOME/.vst3"
install_bundle "$artefacts/LV2/KestruneRoom.lv2" "$HOME/.lv2"
