#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Ostrel needs.
# Safe to run again; does nothing that needs a network beyond Debian's archive.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

packages=(
  build-essential cmake ninja-build ccache pkg-config git
  # Qt 6: widgets-free Qt Quick application with Controls "Basic" and Qt Quick Test
  qt6-base-dev qt6-base-dev-tools qt6-base-private-dev qt6-declarative-dev qt6-declarative-dev-tools
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtqml-workerscript
  qml6-module-qtquick-dialogs qml6-module-qtqml qml6-module-qttest qml6-module-qtquick-shapes
  qml6-module-qt-labs-platform qml6-module-qtcore qml6-module-qtqml-models
  libgl-dev libxkbcommon-dev fonts-dejavu-core
  # libraries
  nlohmann-json3-dev libsimdjson-dev portaudio19-dev librtmidi-dev libasound2-dev libjack-jackd2-dev libacl1-dev
  # tests, benchmarks, fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev clang-16 libclang-rt-16-dev
  jackd2 sox liblo-tools python3
)

if ! dpkg -s "${packages[@]}" >/dev/null 2>&1; then
  apt-get update -qq
  # jackd2 asks about real-time priority; the answer is preseeded so nothing waits.
  echo "jackd2 jackd/tweak_rt_limits boolean false" | debconf-set-selections
  apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
fi
