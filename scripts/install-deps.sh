#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, skipping those present.
set -euo pipefail
packages=(build-essential cmake qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite
          libsqlite3-dev libgl-dev fonts-noto-cjk fonts-hanazono qt6-translations-l10n xvfb xauth
          pkg-config libxlsxwriter-dev poppler-utils unzip python3-openpyxl
          unicode-data bzip2
          libzip-dev libxml2-dev libfreexl-dev sqlite3 libpq-dev postgresql-15
          qt6-charts-dev libqt6opengl6-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
