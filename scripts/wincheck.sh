#!/usr/bin/env bash
# Windows compile check: the sources the build compiles from app/, store/,
# serial/, cards/ and strict/ (rfcard and rfcard-strict, not the simulator,
# tests, fuzz targets or benchmark) compiled for 64-bit Windows by the
# MinGW-w64 cross compiler, syntax and types only (-fsyntax-only), against Qt
# 5's headers, with the build's own definitions. No Qt for Windows can be
# installed here, so nothing is linked or run: this catches Windows branches
# that do not compile (wrong API names, types, missing includes), not what
# they do.
#
# Qt's headers take the platform from the compiler's own macros (_WIN32 makes
# Q_OS_WIN), so the Linux package's headers serve, with one caveat: its
# qconfig.h is the Linux build's. The only entries there that depend on the
# platform are QT_REDUCE_RELOCATIONS (ELF symbol binding),
# QT_VISIBILITY_AVAILABLE (ELF symbol visibility) and QT_THREADSAFE_CLOEXEC (a
# Linux system call). Qt's headers guard the first two with __ELF__ and
# Q_OS_WIN and use the third only in private headers, but rather than rely on
# that, a one-file shim that is searched first includes the real qconfig.h and
# removes the three, as a Windows build of Qt would have it. The definitions
# are those Qt's build tools give every program built with MinGW for Windows
# (UNICODE, _UNICODE, WIN32, MINGW_HAS_SECURE_API) plus Windows 7, the oldest
# system Qt 5.15 runs on, as the API level, so that a call newer than that
# does not compile.
#
# Before the real check the script proves it reaches every Windows branch:
# each one (#ifdef Q_OS_WIN, #ifndef Q_OS_WIN ... #else, and the #else of
# #ifdef Q_OS_UNIX or Q_OS_LINUX) gets an #error in a scratch copy, and every
# one of those errors must come out of the compiler.
#   scripts/wincheck.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh g++-mingw-w64-x86-64-posix python3

cxx=x86_64-w64-mingw32-g++-posix
qt=$(pkg-config --variable=includedir Qt5Core)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/shim/QtCore"
cat >"$work/shim/QtCore/qconfig.h" <<'EOF'
#include_next <QtCore/qconfig.h>
#undef QT_REDUCE_RELOCATIONS
#undef QT_VISIBILITY_AVAILABLE
#undef QT_THREADSAFE_CLOEXEC
EOF

flags=(-fsyntax-only -std=c++17 -Wall -Wextra -Werror
    -DUNICODE -D_UNICODE -DWIN32 -DMINGW_HAS_SECURE_API=1 -D_WIN32_WINNT=0x0601
    -isystem "$work/shim" -isystem "$qt" -isystem "$qt/QtCore" -isystem "$qt/QtSerialPort")

# The sources and their definitions (QT_CORE_LIB, RFCARD_VERSION, ...) are the
# build's own: CMake configures a scratch build, which compiles nothing, and
# lists every compile command; each of the tool's becomes one for Windows.
cmake -S . -B "$work/cmake" -DRFCARD_BUILD_TESTS=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
python3 - "$work/cmake/compile_commands.json" "$PWD" "$cxx" "${flags[@]}" >"$work/commands" <<'EOF'
import json, shlex, sys
commands, root, compiler = sys.argv[1], sys.argv[2] + "/", sys.argv[3:]
for entry in json.load(open(commands)):
    rel = entry["file"][len(root):]
    if entry["file"].startswith(root) and rel.split("/")[0] in (
            "app", "store", "serial", "cards", "strict"):
        defines = [a for a in shlex.split(entry["command"]) if a.startswith("-D")]
        print(shlex.join(compiler + defines + ["-I", ".", rel, "-o", "/dev/null"]))
EOF
sources=$(wc -l <"$work/commands")

# Runs every command in the tree $1, two at a time, with the extra flag $2
# if given; prints the compiler's messages.
compile_all() {
    (cd "$1" && sed "s|^\([^ ]*\) |\1 ${2:-} |" "$work/commands" \
        | xargs -d '\n' -P 2 -I{} sh -c '{} 2>&1')
}

# The scratch copy with an #error at the start of every Windows branch; the
# marks it made go to $work/marks. A condition on the platform that this does
# not understand stops the check rather than leave a branch unproven.
mkdir -p "$work/probe"
: >"$work/marks"
find app store serial cards strict \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null >"$work/files" \
    || true
while read -r f; do
    mkdir -p "$work/probe/$(dirname "$f")"
    awk -v file="$f" -v marks="$work/marks" '
        function mark() { print "#error \"wincheck: Windows branch " file ":" FNR "\""
                          print file ":" FNR >> marks }
        { print }
        /^[ \t]*#[ \t]*(if|ifdef|ifndef)[ \t(]/ {
            win = 0
            if ($0 ~ /^[ \t]*#[ \t]*ifdef[ \t]+Q_OS_WIN([ \t\/]|$)/) win = 1
            else if ($0 ~ /^[ \t]*#[ \t]*if[ \t]+defined[ \t]*\(Q_OS_WIN\)[ \t]*(\/.*)?$/) win = 1
            else if ($0 ~ /^[ \t]*#[ \t]*ifndef[ \t]+Q_OS_(UNIX|LINUX)([ \t\/]|$)/) win = 1
            else if ($0 ~ /^[ \t]*#[ \t]*ifndef[ \t]+Q_OS_WIN([ \t\/]|$)/) win = -1
            else if ($0 ~ /^[ \t]*#[ \t]*if[ \t]+!defined[ \t]*\(Q_OS_WIN\)[ \t]*(\/.*)?$/) win = -1
            else if ($0 ~ /^[ \t]*#[ \t]*ifdef[ \t]+Q_OS_(UNIX|LINUX)([ \t\/]|$)/) win = -1
            else if ($0 ~ /Q_OS_|_WIN32/) {
                print file ":" FNR ": a platform condition the check cannot follow" > "/dev/stderr"
                exit 3
            }
            stack[++depth] = win
            if (win == 1) mark()
            next
        }
        /^[ \t]*#[ \t]*elif/ && (stack[depth] != 0 || $0 ~ /Q_OS_|_WIN32/) {
            print file ":" FNR ": #elif on a platform condition, the check cannot follow" \
                > "/dev/stderr"
            exit 3
        }
        /^[ \t]*#[ \t]*else/ { if (stack[depth] == -1) mark() }
        /^[ \t]*#[ \t]*endif/ { --depth }
    ' "$f" >"$work/probe/$f"
done <"$work/files"
sort -u -o "$work/marks" "$work/marks"
# Preprocessing is enough for an #error to fire.
compile_all "$work/probe" -E >"$work/probe.log" || true
grep -o 'wincheck: Windows branch [^"]*' "$work/probe.log" | sed 's/.* //' | sort -u \
    >"$work/reached" || true
if ! cmp -s "$work/marks" "$work/reached"; then
    echo "wincheck: these Windows branches are not compiled by the check:"
    comm -23 "$work/marks" "$work/reached"
    exit 1
fi
echo "wincheck: every one of $(wc -l <"$work/marks") Windows branches is compiled" \
    "($(paste -sd' ' "$work/marks"))"

if ! compile_all "$PWD" >"$work/check.log"; then
    cat "$work/check.log"
    echo "wincheck: $sources sources, FAILED for Windows ($cxx)"
    exit 1
fi
cat "$work/check.log"
echo "wincheck: $sources sources compile for Windows ($cxx, -fsyntax-only)"
