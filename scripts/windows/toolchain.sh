#!/usr/bin/env bash
# Builds what the 64-bit Windows build of Quillora links against -- zlib, LAME, FFmpeg's libraries
# and Qt -- cross-compiled with mingw-w64 from Debian's own sources, into a cache outside the
# source tree. Every component is keyed on its Debian source version, its options and its recipe
# below, so a second run with nothing changed only checks, and a changed option rebuilds that
# component and those built on it.
#
# Usage: toolchain.sh [--print-prefix]
#   --print-prefix   only print the prefix the components are installed into; build nothing
# Environment:
#   QUILLORA_WIN64_CACHE   the cache (default ~/.cache/quillora-win64)
#   QUILLORA_WIN64_JOBS    parallel compile jobs (default 2)
set -euo pipefail
set -o errtrace

usage() {
    echo "Usage: toolchain.sh [--print-prefix]" >&2
    exit "$1"
}

cache=$(realpath -m "${QUILLORA_WIN64_CACHE:-$HOME/.cache/quillora-win64}")
prefix=$cache/prefix

case $# in
    0) ;;
    1) case $1 in
           --print-prefix) echo "$prefix"; exit 0 ;;
           -h|--help) usage 0 ;;
           *) usage 2 ;;
       esac ;;
    *) usage 2 ;;
esac

readonly triple=x86_64-w64-mingw32
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
toolchain_file=$(realpath "$here/../../cmake/windows/mingw-w64-x86_64.cmake")
jobs=${QUILLORA_WIN64_JOBS:-2}
log=$cache/logs/setup.log
step_name=setup

# ---------------------------------------------------------------------------------------------
# Reporting

duration() {
    printf '%dm%02ds' $(($1 / 60)) $(($1 % 60))
}

step() {
    step_name=$1
    step_start=$SECONDS
}

step_done() {
    echo "toolchain: $step_name $(duration $((SECONDS - step_start)))"
}

die() {
    echo "toolchain: $step_name failed: $*" >&2
    exit 1
}

on_error() {
    local rc=$1 line=$2 command=$3
    # A failing command substitution is reported by the shell that used it.
    [ "$BASH_SUBSHELL" -eq 0 ] || exit "$rc"
    echo "toolchain: $step_name failed (exit $rc at line $line: $command); log: $log" >&2
    exit "$rc"
}
trap 'on_error $? "$LINENO" "$BASH_COMMAND"' ERR

# Runs a command with its output in the step's log; on failure shows the log's end.
run() {
    if ! "$@" >>"$log" 2>&1; then
        tail -n 30 "$log" >&2
        die "$(command_name "$@") exited with an error; full log: $log"
    fi
}

# The program a run started, past the env and nice in front of it.
command_name() {
    while [ $# -gt 1 ]; do
        case $1 in
            env|nice|*=*) shift ;;
            -n|-C) shift 2 ;;
            *) break ;;
        esac
    done
    echo "${1##*/}"
}

# The same for the long, CPU-bound part, which yields to the other work on the machine.
compile() {
    run nice -n 10 "$@"
}

# ---------------------------------------------------------------------------------------------
# Build machine

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

apt_updated=0
apt_update() {
    [ "$apt_updated" -eq 0 ] || return 0
    run as_root apt-get update -qq
    apt_updated=1
}

needed_packages=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev
    make nasm autoconf automake libtool pkg-config perl
    dpkg-dev xz-utils
    cmake ninja-build
    # Cross-building Qt runs the build machine's moc, rcc, uic... of the very same version.
    qt6-base-dev qt6-base-dev-tools
)

install_packages() {
    local missing=() p
    for p in "${needed_packages[@]}"; do
        if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" != installed ]; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    apt_update
    run as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

have_deb_src() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        grep -qE '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' "$f" && return 0
    done
    return 1
}

# A deb-src entry for every deb entry of Debian's main, with the same mirrors and keys.
deb_src_entries() {
    local from=/etc/apt/sources.list.d/debian.sources
    if [ -f "$from" ]; then
        awk '
            function flush() {
                if (types ~ /(^| )deb( |$)/ && components ~ /(^| )main( |$)/ && uris != "" &&
                    suites !~ /-security/) {
                    printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\n", uris, suites
                    if (signed != "") printf "Signed-By: %s\n", signed
                    printf "\n"
                }
                types = uris = suites = components = signed = ""
            }
            /^[[:space:]]*$/ { flush(); next }
            /^#/ { next }
            {
                key = $0; sub(/:.*/, "", key)
                value = $0; sub(/^[^:]*:[[:space:]]*/, "", value)
                if (key == "Types") types = value
                else if (key == "URIs") uris = value
                else if (key == "Suites") suites = value
                else if (key == "Components") components = value
                else if (key == "Signed-By") signed = value
            }
            END { flush() }
        ' "$from"
    else
        printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' \
            'Suites: bookworm bookworm-updates' 'Components: main' \
            'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg'
    fi
}

# The security archive is left out: where its pool serves no sources, `apt-get source` would
# insist on its newer version and fail. Point releases carry its fixes into bookworm.
enable_deb_src() {
    local list=/etc/apt/sources.list.d/quillora-deb-src.sources entries
    if [ -f "$list" ] || ! have_deb_src; then
        entries=$(deb_src_entries)
        [ -n "$entries" ] || die "no Debian deb entry in /etc/apt/sources.list.d/debian.sources to mirror"
        if [ ! -f "$list" ] || [ "$(cat "$list")" != "$entries" ]; then
            printf '%s\n' "$entries" | as_root tee "$list" >/dev/null
            apt_updated=0
            apt_update
        fi
    fi
    if [ -z "$(apt-cache showsrc zlib 2>/dev/null)" ]; then
        apt_update
    fi
}

# The version `apt-get source` would fetch, as in the .dsc's name (no epoch).
source_version() {
    apt-get source --only-source --print-uris -qq "$1" 2>/dev/null |
        sed -n "s/^'[^']*' ${1}_\(.*\)\.dsc .*/\1/p" | head -n 1
}

# Unpacks Debian's source of $1 (with Debian's patches) into $cache/src/$1/tree.
fetch_source() {
    local package=$1 version=$2 dir=$cache/src/$1
    if [ -f "$dir/.unpacked" ] && [ "$(cat "$dir/.unpacked")" = "$version" ]; then
        echo "toolchain: source $package cached"
        return 0
    fi
    step "source $package"
    rm -rf "$dir"
    mkdir -p "$dir"
    run env -C "$dir" apt-get source --only-source --download-only -qq "$package"
    [ -f "$dir/${package}_$version.dsc" ] || die "apt-get source did not fetch ${package}_$version.dsc"
    run dpkg-source -x "$dir/${package}_$version.dsc" "$dir/tree"
    echo "$version" >"$dir/.unpacked"
    step_done
}

# ---------------------------------------------------------------------------------------------
# Components. Each builder runs in its own empty build folder $build with Debian's source in
# $src and installs below $destdir (DESTDIR), configured for $prefix; the prefix is then put
# together from the components' installs, so a rebuilt one leaves nothing stale behind.

zlib_options() {
    options=(--static --prefix="$prefix")
}
build_zlib() {
    cp -a "$src/." .
    run env CHOST="$triple" CC="$triple-gcc-posix" ./configure "${options[@]}"
    compile make -j"$jobs" libz.a
    run make install DESTDIR="$destdir"
}

lame_options() {
    options=(--host="$triple" --prefix="$prefix" CC="$triple-gcc-posix"
        --disable-frontend --disable-decoder --disable-shared --enable-static --disable-gtktest)
}
build_lame() {
    cp -a "$src/." .
    # Debian's patches touch configure.in and the Makefile.am files.
    run autoreconf -fi
    run ./configure "${options[@]}"
    compile make -j"$jobs"
    run make install DESTDIR="$destdir"
}

ffmpeg_options() {
    options=(--prefix="$prefix"
        --enable-cross-compile --target-os=mingw32 --arch=x86_64 --cross-prefix="$triple-"
        --cc="$triple-gcc-posix" --cxx="$triple-g++-posix" --pkg-config=pkg-config
        --enable-shared --disable-static
        --disable-programs --disable-doc --disable-network --disable-devices --disable-debug
        --disable-avdevice
        # Only what the build machine would find by chance; the cross environment has none.
        --disable-iconv --disable-bzlib --disable-lzma --disable-sdl2
        --enable-libmp3lame --enable-zlib
        # Anything may come in; only Flash Video goes out.
        --disable-encoders "--enable-encoder=flv,libmp3lame"
        --disable-muxers --enable-muxer=flv
        --extra-cflags="-I$prefix/include" --extra-ldflags="-L$prefix/lib")
}
build_ffmpeg() {
    run env PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH= PKG_CONFIG_SYSROOT_DIR= \
        "$src/configure" "${options[@]}"
    compile make -j"$jobs"
    run make install DESTDIR="$destdir"
}

qt_options() {
    options=(-G Ninja
        -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" -DQUILLORA_WIN64_PREFIX="$prefix"
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
        -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_testlib=ON -DFEATURE_style_windowsvista=ON
        -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
        -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF -DFEATURE_direct2d=OFF
        -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_jpeg=OFF -DFEATURE_zstd=OFF
        -DFEATURE_opengl=OFF
        # Without this the dynamic OpenGL of the windows plugin stays on and does not compile.
        -DINPUT_opengl=no
        # Debian's repack drops the Wintab headers the windows plugin would include.
        -DFEATURE_tabletevent=OFF
        # Needs Direct2D, which is off; the windows plugin would not link.
        -DFEATURE_directwrite3=OFF
        # Bundled, so the prefix holds all Qt needs; FreeType for the offscreen plugin.
        -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_harfbuzz=OFF
        -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF
        -DFEATURE_system_libb2=OFF -DFEATURE_system_textmarkdownreader=OFF
        -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF)
}
build_qt() {
    run cmake -S "$src" -B . "${options[@]}"
    compile cmake --build . --parallel "$jobs"
    # Like FFmpeg's, the DLLs lose their symbol tables: a third of their size.
    run env DESTDIR="$destdir" cmake --install . --strip
}

components=(zlib lame ffmpeg qt)
declare -A package=([zlib]=zlib [lame]=lame [ffmpeg]=ffmpeg [qt]=qt6-base) key=()

# Puts the prefix together, as hard links, from the installs that are current, so a component
# being rebuilt is out of it and the others stay in.
assemble_prefix() {
    local stages=() manifest name stage
    for name in "${components[@]}"; do
        stage=$cache/stage/$name-${key[$name]}
        if [ -f "$stage/.done" ]; then
            stages+=("$stage")
        fi
    done
    manifest=$(printf '%s\n' "${stages[@]##*/}")
    if [ -f "$prefix/.components" ] && [ "$(cat "$prefix/.components")" = "$manifest" ]; then
        return 0
    fi
    rm -rf "$prefix.new"
    mkdir -p "$prefix.new"
    for stage in "${stages[@]}"; do
        cp -al "$stage/root$prefix/." "$prefix.new/"
    done
    printf '%s\n' "$manifest" >"$prefix.new/.components"
    rm -rf "$prefix"
    mv "$prefix.new" "$prefix"
}

# The key of a component: its source version, its options, its recipe and the cross compiler,
# plus whatever is passed as further arguments (the keys of what it builds on). Where the
# checkout is does not count, so that every checkout (a CI clone, say) shares the cache.
component_key() {
    local name=$1
    shift
    {
        echo "$name"
        printf '%s\n' "$@"
        printf '%s\n' "${options[@]//"$toolchain_file"/TOOLCHAIN_FILE}"
        declare -f "build_$name"
        echo "$compiler_version"
    } | sha256sum | cut -c1-16
}

# Builds component $1 unless the install for its key is already there.
component() {
    local name=$1 stage
    stage=$cache/stage/$name-${key[$name]}
    if [ -f "$stage/.done" ]; then
        echo "toolchain: $name cached"
        return 0
    fi
    step "$name"
    assemble_prefix
    "${name}_options"
    local src=$cache/src/${package[$name]}/tree build=$cache/build/$name destdir=$stage/root old
    log=$cache/logs/$name.log
    : >"$log"
    rm -rf "$build" "$stage"
    mkdir -p "$build" "$destdir"
    cd "$build"
    "build_$name"
    cd "$cache"
    "check_$name" "$destdir$prefix"
    touch "$stage/.done"
    for old in "$cache/stage/$name-"*; do
        [ "$old" = "$stage" ] || rm -rf "$old"
    done
    rm -rf "$build"
    log=$cache/logs/setup.log
    step_done
}

need_files() {
    local f
    for f in "$@"; do
        [ -e "$f" ] || die "the install lacks ${f##*/} ($f)"
    done
}
check_zlib() { need_files "$1/lib/libz.a" "$1/include/zlib.h"; }
check_lame() { need_files "$1/lib/libmp3lame.a" "$1/include/lame/lame.h"; }
check_ffmpeg() {
    local lib
    for lib in avformat avcodec avfilter swscale swresample avutil; do
        need_files "$1/lib/pkgconfig/lib$lib.pc" "$1/lib/lib$lib.dll.a"
        compgen -G "$1/bin/$lib-*.dll" >/dev/null || die "the install lacks $lib-*.dll"
    done
}
check_qt() {
    need_files "$1/bin/Qt6Core.dll" "$1/bin/Qt6Gui.dll" "$1/bin/Qt6Widgets.dll" \
        "$1/bin/Qt6Test.dll" "$1/plugins/platforms/qwindows.dll" \
        "$1/plugins/styles/qwindowsvistastyle.dll" "$1/lib/cmake/Qt6/Qt6Config.cmake"
}

# ---------------------------------------------------------------------------------------------

mkdir -p "$cache/logs"
: >"$log"
exec 9>"$cache/.lock"
if ! flock -n 9; then
    echo "toolchain: waiting for another run on $cache"
    flock 9
fi
total_start=$SECONDS

step packages
enable_deb_src
install_packages
step_done

compiler_version=$(dpkg-query -W -f='${Package} ${Version}\n' g++-mingw-w64-x86-64-posix \
    gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev)

declare -A version
for package in zlib lame ffmpeg qt6-base; do
    version[$package]=$(source_version "$package") || true
    [ -n "${version[$package]}" ] || die "apt-get source knows no source package $package"
    fetch_source "$package" "${version[$package]}"
done

step_name="host Qt"
host_qt=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
[ "${host_qt%%[+~-]*}" = "${version[qt6-base]%%[+~-]*}" ] ||
    die "the build machine's Qt is $host_qt but the Qt source is ${version[qt6-base]}: they must match"

zlib_options
key[zlib]=$(component_key zlib "${version[zlib]}")
lame_options
key[lame]=$(component_key lame "${version[lame]}")
ffmpeg_options
key[ffmpeg]=$(component_key ffmpeg "${version[ffmpeg]}" "${key[zlib]}" "${key[lame]}")
qt_options
# Comments aside, the toolchain file is part of Qt's recipe.
key[qt]=$(component_key qt "${version[qt6-base]}" "$host_qt" \
    "$(grep -Ev '^[[:space:]]*(#|$)' "$toolchain_file")")

for name in "${components[@]}"; do
    component "$name"
done

step_name=prefix
assemble_prefix
if [ -e "$prefix/plugins/platforms/qoffscreen.dll" ]; then
    echo "toolchain: qt has the offscreen platform plugin"
else
    echo "toolchain: qt has no offscreen platform plugin"
fi
echo "toolchain: total $(duration $((SECONDS - total_start)))"
echo "toolchain: prefix $prefix"
