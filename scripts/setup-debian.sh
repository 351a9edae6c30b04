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

# Tests: real PHP software of Debian's packages, unpacked into the cache without installing them
# (which would bring Apache and start its service), each folder again only for a new version.
cache="${XDG_CACHE_HOME:-$HOME/.cache}/kovani"
apt_options=()
if [ "$(id -u)" -eq 0 ]; then
  apt_options=(-o APT::Sandbox::User=root)
fi
download="$(mktemp -d)"
trap 'rm -rf "$download"' EXIT

candidate() {
  apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p'
}

# unpack FOLDER PACKAGE...: the packages, unpacked together into FOLDER.
unpack() {
  local folder=$1
  shift
  local version
  version="$(candidate "$1")"
  # A package the lists do not know yet prints nothing; one known without a candidate, "(none)".
  if [ -z "$version" ] || [ "$version" = "(none)" ]; then
    "${sudo_cmd[@]}" apt-get update -qq
    version="$(candidate "$1")"
  fi
  if [ -z "$version" ] || [ "$version" = "(none)" ] || [ "$(cat "$folder/.version" 2>/dev/null)" = "$version" ]; then
    return 0
  fi
  rm -rf "$download"/*
  if ! (cd "$download" && apt-get download -qq "${apt_options[@]}" "$@"); then
    "${sudo_cmd[@]}" apt-get update -qq
    (cd "$download" && apt-get download -qq "${apt_options[@]}" "$@")
  fi
  rm -rf "$folder"
  mkdir -p "$folder"
  for deb in "$download"/*.deb; do
    dpkg-deb -x "$deb" "$folder"
  done
  printf '%s\n' "$version" >"$folder/.version"
}

# PACKAGE and the PHP libraries and JavaScript packages it depends on, however deep.
with_libraries() {
  local -a queue=("$1") found=()
  local -A seen=()
  local package dependency
  while [ ${#queue[@]} -gt 0 ]; do
    package=${queue[0]}
    queue=("${queue[@]:1}")
    [ -n "${seen[$package]:-}" ] && continue
    seen[$package]=1
    found+=("$package")
    for dependency in $(apt-cache depends --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
        --no-enhances "$package" 2>/dev/null | sed -n 's/^ *|\?\(Pre\)\?Depends: //p' | grep -E '^(php-|libjs-)' |
        grep -Ev '^php-(cli|common|json|mysql|xml|mbstring|curl|zip|gd|intl|bz2)$'); do
      [ -z "${seen[$dependency]:-}" ] && queue+=("$dependency")
    done
  done
  printf '%s\n' "${found[@]}"
}

unpack "$cache/wordpress-package" wordpress
# Debian's phpMyAdmin layout: its JavaScript linked in from /usr/share/javascript, its libraries
# in /usr/share/php (7 MB).
if [ "$(cat "$cache/phpmyadmin-package/.version" 2>/dev/null)" != "$(candidate phpmyadmin)" ]; then
  mapfile -t phpmyadmin_packages < <(with_libraries phpmyadmin)
  unpack "$cache/phpmyadmin-package" "${phpmyadmin_packages[@]}"
fi
