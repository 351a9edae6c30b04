#!/usr/bin/env bash
# Fetches the PHP 8.5 runtime that the application bundle carries and lays it out, ready to copy,
# in a cache outside the build folder:
#
#   ${XDG_CACHE_HOME:-~/.cache}/kovani/php85/<key>/bin/php      the CLI
#                                                  /modules/*.so  its extension modules
#                                                  /lib/*.so*     the libraries they need
#                                                  /.sha256       every file's checksum
#                                                  /.complete     the version, and the checksum of .sha256
#
# The runtime is the npm package pinned in package-lock.json beside this script (its version and
# integrity hash are checked by `npm ci`). Every ELF file gets a RUNPATH into the runtime's own
# lib folder, relative to itself ($ORIGIN), so the runtime works wherever the folder is copied
# and nothing has to set LD_LIBRARY_PATH. <key> changes with the lock file and with this script,
# so a new pin or a new layout is fetched again. The checksums are recorded when the runtime is
# prepared and checked before it is used: a runtime whose files changed since (a truncated
# bin/php, a deleted library) is prepared again.
#
# Each run works in a folder .prepare-XXXXXX of the cache, removed however the run ends (a run
# killed with SIGKILL leaves it behind; the next run removes it). A running run holds a lock on
# its folder, so a folder nobody holds is a leftover.
#
#   prepare-runtime.sh                  fetch and lay out the runtime unless the cache has it whole
#   prepare-runtime.sh --path           print the runtime's folder for this checkout (nothing else)
#   prepare-runtime.sh --verify [dir]   check the runtime (or dir) against its checksums; exit 1 if it fails
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
cache_root="${XDG_CACHE_HOME:-$HOME/.cache}/kovani/php85"
key="$(cat "$here/package-lock.json" "$0" | sha256sum | cut -c1-16)"
runtime="$cache_root/$key"

# Whether the runtime in $1 is whole, as prepared; says why not on standard error.
verify() {
  local dir="$1" failed
  if [ ! -f "$dir/.complete" ] || [ ! -f "$dir/.sha256" ]; then
    echo "prepare-runtime.sh: $dir holds no prepared runtime" >&2
    return 1
  fi
  if [ "$(sed -n 2p "$dir/.complete")" != "$(sha256sum <"$dir/.sha256" | cut -d' ' -f1)" ]; then
    echo "prepare-runtime.sh: the checksum list of $dir has changed since it was prepared" >&2
    return 1
  fi
  if ! failed="$(cd "$dir" && sha256sum --quiet --strict -c .sha256 2>/dev/null)"; then
    echo "prepare-runtime.sh: files of $dir changed since it was prepared:" >&2
    printf '%s\n' "$failed" | head -n 5 | sed 's/^/  /' >&2
    return 1
  fi
}

case "${1:-}" in
  --path)
    printf '%s\n' "$runtime"
    exit 0
    ;;
  --verify)
    verify "${2:-$runtime}" || {
      echo "prepare-runtime.sh: run  bash scripts/php85/prepare-runtime.sh  to prepare it again" >&2
      exit 1
    }
    exit 0
    ;;
esac

if [ -f "$runtime/.complete" ]; then
  if verify "$runtime"; then
    exit 0
  fi
  echo "prepare-runtime.sh: preparing the runtime again" >&2
fi

for tool in npm patchelf flock; do
  command -v "$tool" >/dev/null || { echo "prepare-runtime.sh: $tool is missing" >&2; exit 1; }
done

mkdir -p "$cache_root"
work=""
child=""
cleanup() {
  local status=$?
  trap - EXIT HUP INT TERM
  if [ -n "$child" ]; then
    # npm finishes its request before it heeds a SIGTERM; its work is thrown away anyway.
    kill -KILL "$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
  fi
  [ -z "$work" ] || rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# The cache-wide lock is held only while work folders are made, removed or put in place.
exec {cache_lock}>"$cache_root/.prepare.lock"
flock "$cache_lock"
for old in "$cache_root"/.prepare-*; do
  # A folder whose run is gone holds no lock (children of a killed run keep it while they live).
  if [ -d "$old" ] && flock -n "$old" true; then
    rm -rf "$old"
  fi
done
work="$(mktemp -d "$cache_root/.prepare-XXXXXX")"
exec {work_lock}<"$work"
flock -n "$work_lock"
flock -u "$cache_lock"

echo "Fetching the bundled PHP 8.5 runtime into $runtime"
cp "$here/package.json" "$here/package-lock.json" "$work/"
# npm's own cache goes with the work folder: the laid-out runtime is what is kept. In the
# background, so that a signal ends the run at once rather than after the download.
npm ci --prefix "$work" --cache "$work/npm-cache" --ignore-scripts --no-audit --no-fund --loglevel=error {cache_lock}>&- &
child=$!
wait "$child"
child=""

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
(cd "$out" && find . -type f ! -name .sha256 ! -name .complete -printf '%P\0' | LC_ALL=C sort -z | xargs -0 sha256sum) >"$out/.sha256"
printf '%s\n%s\n' "$version" "$(sha256sum <"$out/.sha256" | cut -d' ' -f1)" >"$out/.complete"

# Put in place whole. Another run may have got there first; a damaged runtime goes with the
# work folder.
flock "$cache_lock"
if [ -f "$runtime/.complete" ] && verify "$runtime" 2>/dev/null; then
  echo "PHP $(head -n 1 "$runtime/.complete") is ready in $runtime"
  exit 0
fi
if [ -e "$runtime" ]; then
  mv -T "$runtime" "$work/replaced"
fi
mv -T "$out" "$runtime"
echo "PHP $version is ready in $runtime"
