#!/usr/bin/env bash
# Fetches the PHP 8.5 runtime that the application bundle carries and lays it out, ready to copy,
# in a cache outside the build folder:
#
#   ${XDG_CACHE_HOME:-~/.cache}/kovani/php85/<key>/bin/php      the CLI
#                                                  /modules/*.so  its extension modules
#                                                  /lib/*.so*     the libraries they need
#
# The runtime is the npm package pinned in package-lock.json beside this script (its version and
# integrity hash are checked by `npm ci`). Every ELF file gets a RUNPATH into the runtime's own
# lib folder, relative to itself ($ORIGIN), so the runtime works wherever the folder is copied
# and nothing has to set LD_LIBRARY_PATH. <key> changes with the lock file and with this script,
# so a new pin or a new layout is fetched again; an existing folder is never downloaded twice.
#
#   prepare-runtime.sh          fetch and lay out the runtime unless the cache has it
#   prepare-runtime.sh --path   print the runtime's folder for this checkout (nothing else)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
cache_root="${XDG_CACHE_HOME:-$HOME/.cache}/kovani/php85"
key="$(cat "$here/package-lock.json" "$0" | sha256sum | cut -c1-16)"
runtime="$cache_root/$key"

if [ "${1:-}" = "--path" ]; then
  printf '%s\n' "$runtime"
  exit 0
fi

if [ -f "$runtime/.complete" ]; then
  exit 0
fi

for tool in npm patchelf; do
  command -v "$tool" >/dev/null || { echo "prepare-runtime.sh: $tool is missing" >&2; exit 1; }
done

mkdir -p "$cache_root"
work="$(mktemp -d "$cache_root/.prepare-XXXXXX")"
trap 'rm -rf "$work"' EXIT

echo "Fetching the bundled PHP 8.5 runtime into $runtime"
cp "$here/package.json" "$here/package-lock.json" "$work/"
# npm's own cache goes with the work folder: the laid-out runtime is what is kept.
npm ci --prefix "$work" --cache "$work/npm-cache" --ignore-scripts --no-audit --no-fund --loglevel=error

native="$work/node_modules/@libphp/almalinux-9-v85/native"
out="$work/runtime"
mkdir -p "$out/bin"
cp -a "$native/php/php" "$out/bin/php"
cp -a "$native/php/modules" "$out/modules"
cp -a "$native/lib" "$out/lib"
chmod -R u+w,go-w "$out"

patchelf --set-rpath '$ORIGIN/../lib' "$out/bin/php"
for file in "$out"/modules/*.so; do
  patchelf --set-rpath '$ORIGIN/../lib' "$file"
done
for file in "$out"/lib/*; do
  patchelf --set-rpath '$ORIGIN' "$file"
done

# It must run here before it is kept.
version="$("$out/bin/php" -n -d pcre.jit=0 -r 'echo PHP_VERSION;')"
case "$version" in
  8.5.*) ;;
  *) echo "prepare-runtime.sh: the runtime answered \"$version\", not PHP 8.5" >&2; exit 1 ;;
esac
printf '%s\n' "$version" >"$out/.complete"

# Renamed into place whole; another setup that got there first has made the same folder.
[ -f "$runtime/.complete" ] || rm -rf "$runtime"
mv -T "$out" "$runtime" 2>/dev/null || [ -f "$runtime/.complete" ]
echo "PHP $version is ready in $runtime"
