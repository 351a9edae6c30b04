#!/usr/bin/env bash
# Installs what building, running and testing Kovani needs on Debian 12 (as root or through sudo),
# and fetches the PHP 8.5 runtime that the application bundle carries into the user's cache
# (scripts/php85/prepare-runtime.sh; nothing is fetched again once it is there).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  # build
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qtkeychain-qt6-dev nlohmann-json3-dev libicu-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # programs the application runs
  php-cli php-mysql php-mbstring php-xml php-curl php-zip
  mariadb-server-core mariadb-client curl unzip zip lsof procps zsh composer
  # the bundled PHP 8.5 runtime: how it is laid out, and the libraries it takes from the system
  patchelf ca-certificates libcurl4 libxml2 libsqlite3-0 libglib2.0-0 libpcre2-8-0 libzstd1
  liblzma5 libbz2-1.0 zlib1g libstdc++6 libtinfo6
  # tests: keyring, fonts for screenshots, the .env reader Laravel uses
  gnome-keyring dbus dbus-x11 libsecret-tools fonts-dejavu-core php-vlucas-phpdotenv
  # tests: the test certificate authority of the loopback HTTPS servers
  openssl
  # desktop integration: the launcher's check, and the desktop's URL and MIME handlers
  desktop-file-utils xdg-utils
  # tests: a web server that is not PHP (the orphan clean-up leaves it alone)
  python3
  # tests: a real X display with the accessibility bus (window focus, the AT-SPI walk)
  xvfb xauth at-spi2-core python3-gi gir1.2-atspi-2.0
)

# npm fetches the runtime; where a Node.js installation already brings it, Debian's is not wanted.
if ! command -v npm >/dev/null; then
  packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The runtime the build puts into Kovani.app/Contents/Resources/php85, fetched as this user.
bash scripts/php85/prepare-runtime.sh

# Tests: the installer of Debian's WordPress package, unpacked into the cache without installing
# the package (which would bring Apache and start its service).
wordpress="${XDG_CACHE_HOME:-$HOME/.cache}/kovani/wordpress-package"
wordpress_version="$(apt-cache policy wordpress 2>/dev/null | sed -n 's/^ *Candidate: //p')"
# A package the lists do not know yet prints nothing; one known without a candidate, "(none)".
if [ -z "$wordpress_version" ] || [ "$wordpress_version" = "(none)" ]; then
  "${sudo_cmd[@]}" apt-get update -qq
  wordpress_version="$(apt-cache policy wordpress 2>/dev/null | sed -n 's/^ *Candidate: //p')"
fi
if [ -n "$wordpress_version" ] && [ "$wordpress_version" != "(none)" ] && [ "$(cat "$wordpress/.version" 2>/dev/null)" != "$wordpress_version" ]; then
  download="$(mktemp -d)"
  trap 'rm -rf "$download"' EXIT
  apt_options=()
  if [ "$(id -u)" -eq 0 ]; then
    apt_options=(-o APT::Sandbox::User=root)
  fi
  if ! (cd "$download" && apt-get download -qq "${apt_options[@]}" "wordpress=$wordpress_version"); then
    "${sudo_cmd[@]}" apt-get update -qq
    (cd "$download" && apt-get download -qq "${apt_options[@]}" "wordpress=$wordpress_version")
  fi
  rm -rf "$wordpress"
  mkdir -p "$wordpress"
  dpkg-deb -x "$download"/wordpress_*.deb "$wordpress"
  printf '%s\n' "$wordpress_version" >"$wordpress/.version"
  rm -rf "$download"
fi
