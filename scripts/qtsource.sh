#!/usr/bin/env bash
# Finds the source of Qt Serial Port 5.15.8 for the Windows build and proves
# that it is that version, by what will be compiled, not by how it was
# packed; then writes it as a tar archive (folder qtserialport-5.15.8/) for
# scripts/winqt.sh and keeps a copy in the cache for later runs.
#   scripts/qtsource.sh OUT.tar CACHE_DIR
# Where it looks, in this order:
#   1. RFCARD_QTSERIALPORT: an archive (tar of any compression, or zip) or an
#      unpacked tree; when set, it is the only one tried;
#   2. ../shared/third_party/qtserialport-5.15.8.tar.xz beside the clone;
#   3. the copy kept in CACHE_DIR by an earlier run;
#   4. a shallow clone of the upstream tag, when the network allows.
# A tree with git metadata is checked by its commit (and must have no
# changed files); any other tree file by file against the checksums in
# scripts/qtserialport-5.15.8.sha256, made once from the tag's tree: any
# repacking of the same files is accepted, a changed, missing or extra file
# is refused by name.
# Exit status: 0 found and checked; 2 a source that is not Qt Serial Port
# 5.15.8; 3 no source to be had (the message says how to provide one).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$1 cache=$2
tag=v5.15.8-lts-lgpl
commit=e2851096dc6f6a7cfa635d69ea950b382e3658ab
manifest=$(pwd)/scripts/qtserialport-5.15.8.sha256
kept=$cache/qtserialport-5.15.8.tar
remotes=(https://code.qt.io/qt/qtserialport.git https://github.com/qt/qtserialport.git)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

refuse() { echo "qtsource: $source is not Qt Serial Port 5.15.8: $*" >&2; exit 2; }
git_() { git -c safe.directory='*' -C "$1" "${@:2}"; }

# The tree a source holds: the source itself, or what its archive unpacks
# to (an archive holding one folder is that folder).
tree_of() {
  local from=$1 into=$tmp/unpacked entries
  if [ -d "$from" ]; then
    echo "$from"
    return
  fi
  rm -rf "$into" && mkdir "$into"
  case $from in
  *.zip) unzip -q "$from" -d "$into" ;;
  *) tar -xf "$from" -C "$into" ;;
  esac || refuse "it does not unpack"
  mapfile -t entries < <(find "$into" -mindepth 1 -maxdepth 1)
  if [ ${#entries[@]} -eq 1 ] && [ -d "${entries[0]}" ]; then echo "${entries[0]}"; else echo "$into"; fi
}
# try PATH [NAME]: checks and packs it, and ends the script.
try() {
  local dir
  source=${2:-$1}
  dir=$(tree_of "$1") || exit
  check_and_pack "$dir"
  exit 0
}

# Checks the tree and packs it as the archive upstream's tag exports.
check_and_pack() {
  local dir=$1 have changed
  if [ -e "$dir/.git" ] && [ "$(git_ "$dir" rev-parse --show-toplevel 2>/dev/null)" = \
    "$(realpath "$dir")" ]; then
    have=$(git_ "$dir" rev-parse HEAD 2>/dev/null) || refuse "its git metadata has no commit"
    [ "$have" = "$commit" ] || refuse "it is at commit $have, not $commit ($tag)"
    changed=$(git_ "$dir" status --porcelain --untracked-files=no | cut -c4-)
    [ -z "$changed" ] || refuse "changed files:" $changed
    git_ "$dir" archive --format=tar --prefix=qtserialport-5.15.8/ HEAD >"$tmp/packed.tar"
  else
    (cd "$dir" && find . -path ./.git -prune -o ! -type d -print | sed 's|^\./||' | LC_ALL=C sort) \
      >"$tmp/have"
    cut -c67- "$manifest" | LC_ALL=C sort >"$tmp/want"
    changed=$(LC_ALL=C comm -13 "$tmp/have" "$tmp/want")
    [ -z "$changed" ] || refuse "missing files:" $changed
    changed=$(LC_ALL=C comm -23 "$tmp/have" "$tmp/want")
    [ -z "$changed" ] || refuse "files that are not in it:" $changed
    changed=$(cd "$dir" && find . -path ./.git -prune -o -type l -print)
    [ -z "$changed" ] || refuse "links in place of files:" $changed
    changed=$(cd "$dir" && sha256sum -c "$manifest" 2>/dev/null | sed -n 's/: FAILED.*//p') || true
    [ -z "$changed" ] || refuse "changed files:" $changed
    tar -C "$dir" --exclude=./.git --transform='s|^\.|qtserialport-5.15.8|' -cf "$tmp/packed.tar" .
  fi
  if [ "$source" != "$kept" ]; then
    mkdir -p "$cache" && cp "$tmp/packed.tar" "$kept.part" && mv "$kept.part" "$kept"
  fi
  mv "$tmp/packed.tar" "$out"
  echo "qtsource: Qt Serial Port 5.15.8 from $source"
}

if [ -n "${RFCARD_QTSERIALPORT:-}" ]; then
  [ -e "$RFCARD_QTSERIALPORT" ] || { echo "qtsource: RFCARD_QTSERIALPORT: no $RFCARD_QTSERIALPORT" >&2; exit 2; }
  try "$RFCARD_QTSERIALPORT"
fi
for candidate in ../shared/third_party/qtserialport-5.15.8.tar.xz "$kept"; do
  [ ! -e "$candidate" ] || try "$candidate"
done
if command -v git >/dev/null; then
  for remote in "${remotes[@]}"; do
    if GIT_TERMINAL_PROMPT=0 timeout 300 git clone -q --depth 1 --branch "$tag" "$remote" \
      "$tmp/clone" 2>/dev/null; then
      try "$tmp/clone" "$remote ($tag)"
    fi
    rm -rf "$tmp/clone"
  done
fi
echo "qtsource: no Qt Serial Port 5.15.8 source; give one as RFCARD_QTSERIALPORT (an archive" \
  "or tree of the tag $tag), put qtserialport-5.15.8.tar.xz in ../shared/third_party/," \
  "or let this machine reach ${remotes[0]}" >&2
exit 3
