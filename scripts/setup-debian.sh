#!/usr/bin/env bash
# Installs what building, running and testing Kovani needs on Debian 12 (as root or through sudo).
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qtkeychain-qt6-dev nlohmann-json3-dev libicu-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # programs the application runs
  php-cli php-mysql php-mbstring php-xml php-curl php-zip
  mariadb-server mariadb-client curl unzip zip lsof procps zsh composer
  # tests: keyring, fonts for screenshots, the .env reader Laravel uses
  gnome-keyring dbus dbus-x11 libsecret-tools fonts-dejavu-core php-vlucas-phpdotenv
  # tests: the test certificate authority of the loopback HTTPS servers
  openssl
  # desktop integration: the launcher's check, and the desktop's URL and MIME handlers
  desktop-file-utils xdg-utils
  # tests: a web server that is not PHP (the orphan clean-up leaves it alone)
  python3
  # tests: window behaviour on a real X display (the *_xcb_test files run under xvfb-run)
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
