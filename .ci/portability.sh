#!/usr/bin/env bash
# Proves that ruvo is more than a glibc program.  Four checks, one line
# each; the script fails if any of them fails:
#
#   libc++   the program and every test built with clang++ and libc++ (and
#            a GoogleTest built the same way), run with ctest;
#   musl     a static musl build of the program, run through every
#            end-to-end test;
#   posix    src/ compiled with no GNU extension visible, with g++ and with
#            clang++ and libc++;
#   freebsd  every file of src/ and tests/ compiled for FreeBSD 14.1
#            x86-64 with -Werror, and the program linked as PIE against
#            FreeBSD's libc and librt (its POSIX timers) alone.  A header FreeBSD lacks is a failure.
#            Only where there is no sysroot at all does the line say so,
#            without failing: nothing can be proved there either way.
#
#   .ci/portability.sh [WORK_DIR [CHECK ...]]
#
# WORK_DIR defaults to build-portability; CHECK names the checks to run
# (default: all four).
#
# The FreeBSD sysroot comes from RUVO_FREEBSD_SYSROOT (a tarball, or an
# unpacked sysroot with usr/include, usr/lib/Scrt1.o and usr/lib/libc.so),
# by default from ../shared/freebsd-sysroot beside this clone.
#
# Installs what it needs with apt-get when it runs as root.
set -u
cd "$(dirname "$0")/.."
root=$PWD
work=${1:-$root/build-portability}
mkdir -p "$work"
work=$(cd "$work" && pwd)

llvm=/usr/lib/llvm-14
packages=()
[ -x "$(command -v clang++)" ] || packages+=(clang)
[ -x "$(command -v ld.lld)" ] || packages+=(lld)
[ -f /usr/lib/x86_64-linux-musl/libc.a ] || packages+=(musl-dev)
[ -f $llvm/lib/libc++.a ] || packages+=(libc++-14-dev)
[ -f $llvm/lib/libc++abi.a ] || packages+=(libc++abi-14-dev)
[ -d /usr/src/googletest ] || packages+=(googletest)
[ -x "$(command -v readelf)" ] || packages+=(binutils)
if [ ${#packages[@]} -gt 0 ]; then
    echo "portability: installing ${packages[*]}"
    apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${packages[@]}" >"$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; exit 1; }
fi

warnings=(-Wall -Wextra -Wpedantic -Werror)
failed=0

# check NAME FUNCTION [summary]: runs the function with its output in a
# log, and prints one line (with "summary", ended by the log's last line);
# on failure, the end of the log too.
check() {
    local log=$work/$1.log
    if "$2" >"$log" 2>&1; then
        if [ -n "${3:-}" ]; then
            echo "portability: $1: ok ($(tail -n 1 "$log"))"
        else
            echo "portability: $1: ok"
        fi
    elif [ $? -eq 77 ]; then
        echo "portability: $1: $(tail -n 1 "$log")"
    else
        echo "portability: $1: FAILED (log: $log)"
        tail -n 40 "$log" | sed 's/^/    /'
        failed=1
    fi
}

libcxx() {
    local gtest=$work/gtest-libcxx
    if [ ! -f "$gtest/install/lib/libgtest.a" ]; then
        cmake -S /usr/src/googletest -B "$gtest/build" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-stdlib=libc++ -DBUILD_GMOCK=OFF \
            -DCMAKE_INSTALL_PREFIX="$gtest/install" &&
            cmake --build "$gtest/build" -j2 && cmake --install "$gtest/build" || return 1
    fi
    cmake -S "$root" -B "$work/libcxx" -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_CXX_FLAGS=-stdlib=libc++ -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++ \
        -DCMAKE_PREFIX_PATH="$gtest/install" &&
        cmake --build "$work/libcxx" -j2 &&
        # The tests of the C++ code, which check the program's output byte
        # for byte; those that build copies of their own with the default
        # compiler, or check the packaging, the docs and the shell scripts,
        # have nothing of libc++'s to show.
        ctest --test-dir "$work/libcxx" -j2 --output-on-failure --no-tests=error \
            -E '^(readme_steps|reproducible_package|install_routes|debian_package|shell_integration|install_and_run|contributing_steps|docs_examples|pictures|man_page_lint)$'
}

musl() {
    local resources objects=() f
    resources=$(clang -print-resource-dir) || return 1
    local lib=/usr/lib/x86_64-linux-musl
    mkdir -p "$work/musl"
    for f in src/*.cpp; do
        clang++ --target=x86_64-linux-musl -nostdinc -nostdinc++ -isystem $llvm/include/c++/v1 \
            -isystem "$resources/include" -isystem /usr/include/x86_64-linux-musl \
            -std=c++20 -O2 -fno-exceptions -D_FILE_OFFSET_BITS=64 "${warnings[@]}" \
            -c "$f" -o "$work/musl/$(basename "$f" .cpp).o" || return 1
        objects+=("$work/musl/$(basename "$f" .cpp).o")
    done
    clang++ --target=x86_64-linux-musl -static -nostdlib -fuse-ld=lld -o "$work/musl/ruvo" \
        $lib/crt1.o $lib/crti.o "${objects[@]}" \
        -Wl,--start-group $llvm/lib/libc++.a $llvm/lib/libc++abi.a \
        "$resources/lib/linux/libclang_rt.builtins-x86_64.a" $lib/libc.a -Wl,--end-group \
        $lib/crtn.o || return 1
    if readelf -d "$work/musl/ruvo" | grep -q NEEDED; then
        echo "the musl build is not static"
        return 1
    fi
    # The end-to-end tests of any test build, pointed at the musl binary.
    local tests=$work/libcxx/tests/ruvo_cli_tests
    [ -x "$tests" ] || tests=$root/build/tests/ruvo_cli_tests
    [ -x "$tests" ] || { echo "no end-to-end test binary built"; return 1; }
    RUVO_TEST_BINARY=$work/musl/ruvo "$tests"
}

posix() {
    local defines=(-U_GNU_SOURCE -D_POSIX_C_SOURCE=200809L -D_FILE_OFFSET_BITS=64)
    g++ -std=c++20 "${defines[@]}" "${warnings[@]}" -fsyntax-only src/*.cpp &&
        clang++ -stdlib=libc++ -std=c++20 "${defines[@]}" "${warnings[@]}" -fsyntax-only src/*.cpp
}

# Finds the FreeBSD sysroot: RUVO_FREEBSD_SYSROOT names a tarball, an
# unpacked sysroot, or a folder that holds either; the default is the
# folder beside this clone.  Prints the unpacked sysroot's path.
freebsd_sysroot() {
    local from=${RUVO_FREEBSD_SYSROOT:-$root/../shared/freebsd-sysroot}
    local tarball=
    if [ -f "$from" ]; then
        tarball=$from
    elif [ -d "$from/usr/include" ]; then
        echo "$from"
        return
    elif [ -d "$from/freebsd-14.1-x86_64/usr/include" ]; then
        echo "$from/freebsd-14.1-x86_64"
        return
    elif [ -f "$from/freebsd-14.1-x86_64-sysroot.tar.xz" ]; then
        tarball=$from/freebsd-14.1-x86_64-sysroot.tar.xz
    else
        return 1
    fi
    local unpacked=$work/freebsd/sysroot
    if [ ! -d "$unpacked/usr/include" ]; then
        rm -rf "$unpacked" && mkdir -p "$unpacked" &&
            tar -xJf "$tarball" -C "$unpacked" --strip-components=1 >&2 || return 2
    fi
    echo "$unpacked"
}

freebsd() {
    local sysroot
    sysroot=$(freebsd_sysroot)
    case $? in
    0) ;;
    1)
        echo "skipped: no FreeBSD sysroot at" \
            "${RUVO_FREEBSD_SYSROOT:-../shared/freebsd-sysroot} (set RUVO_FREEBSD_SYSROOT)"
        return 77
        ;;
    *) echo "the FreeBSD sysroot could not be unpacked"; return 1 ;;
    esac
    for f in usr/include/stdio.h usr/lib/Scrt1.o usr/lib/libc.so; do
        [ -e "$sysroot/$f" ] || { echo "the sysroot $sysroot has no $f"; return 1; }
    done
    # The sysroot holds every header FreeBSD has, so a header it lacks is
    # one FreeBSD lacks: a plain compile error that names file and header.
    local cxx=(clang++ --target=x86_64-unknown-freebsd14.1 --sysroot="$sysroot" -nostdinc++
        -isystem $llvm/include/c++/v1 -D__FreeBSD_version=1401000 -std=c++20 "${warnings[@]}"
        -isystem /usr/src/googletest/googletest/include -I"$root/src"
        -DRUVO_BINARY='"/usr/local/bin/ruvo"' -DRUVO_PALETTE_DIR='"palettes"'
        -DRUVO_TEST_DATA='"tests"' -DRUVO_FAULTS='"faults.so"')
    local objects=() f status=0
    for f in src/*.cpp tests/*.cpp; do
        case $f in
        src/*)
            # FreeBSD builds its programs as PIE, and clang does not make
            # position-independent code for this target unless asked.
            "${cxx[@]}" -O2 -fPIE -fno-exceptions -fno-rtti -c "$f" \
                -o "$work/freebsd/$(basename "$f" .cpp).o" || { status=1; continue; }
            objects+=("$work/freebsd/$(basename "$f" .cpp).o")
            ;;
        *) "${cxx[@]}" -fsyntax-only "$f" || { status=1; continue; } ;;
        esac
        echo "$f: compiled"
    done
    [ $status -eq 0 ] || { echo "some files do not compile for FreeBSD"; return 1; }
    ld.lld -pie --eh-frame-hdr -m elf_x86_64 --dynamic-linker /libexec/ld-elf.so.1 \
        --no-undefined -o "$work/freebsd/ruvo" "$sysroot/usr/lib/Scrt1.o" "${objects[@]}" \
        -L"$sysroot/usr/lib" -lrt -lc ||
        { echo "ruvo does not link against FreeBSD's libc and librt"; return 1; }
    local needed
    needed=$(readelf -d "$work/freebsd/ruvo" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
        paste -s -d ' ' -)
    echo "linked; NEEDED: $needed"
    # librt holds the POSIX timers on FreeBSD (the reset's bound).
    [ "$needed" = "librt.so.1 libc.so.7" ] ||
        { echo "ruvo needs other libraries than librt.so.1 and libc.so.7"; return 1; }
}

shift || true
selected=" ${*:-libcxx musl posix freebsd} "
for name in libcxx musl posix freebsd; do
    case $selected in
    *" $name "*)
        if [ $name = freebsd ]; then check $name $name summary; else check $name $name; fi ;;
    esac
done
exit $failed
