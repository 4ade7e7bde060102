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
#   freebsd  src/ and tests/ compiled for FreeBSD 14.1 x86-64 and the
#            program linked against its C library alone, with the sysroot
#            in ../shared/freebsd-sysroot.  Where that is absent, or lacks a
#            header the code includes, the line says so and the check
#            does not fail: nothing can be proved there either way.
#
#   ci/portability.sh [WORK_DIR]        (default: build-portability)
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

# check NAME FUNCTION: runs the function with its output in a log, and
# prints one line; on failure, the end of the log too.
check() {
    local log=$work/$1.log
    if "$2" >"$log" 2>&1; then
        echo "portability: $1: ok"
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
        ctest --test-dir "$work/libcxx" -j2 --output-on-failure
}

musl() {
    local resources objects=() f
    resources=$(clang -print-resource-dir) || return 1
    local lib=/usr/lib/x86_64-linux-musl
    mkdir -p "$work/musl"
    for f in src/*.cpp; do
        clang++ --target=x86_64-linux-musl -nostdinc -nostdinc++ -isystem $llvm/include/c++/v1 \
            -isystem "$resources/include" -isystem /usr/include/x86_64-linux-musl \
            -std=c++20 -O2 -D_FILE_OFFSET_BITS=64 "${warnings[@]}" \
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

freebsd() {
    local tarball=$root/../shared/freebsd-sysroot/freebsd-14.1-x86_64-sysroot.tar.xz
    if [ ! -f "$tarball" ]; then
        echo "skipped: no FreeBSD sysroot beside this clone (../shared/freebsd-sysroot)"
        return 77
    fi
    local sysroot=$work/freebsd/freebsd-14.1-x86_64
    if [ ! -d "$sysroot" ]; then
        mkdir -p "$work/freebsd" && tar -xJf "$tarball" -C "$work/freebsd" || return 1
    fi
    local cxx=(clang++ --target=x86_64-unknown-freebsd14.1 --sysroot="$sysroot" -nostdinc++
        -isystem $llvm/include/c++/v1 -D__FreeBSD_version=1401000 -std=c++20 "${warnings[@]}"
        -isystem /usr/src/googletest/googletest/include -I"$root/src"
        -DRUVO_BINARY='"/usr/local/bin/ruvo"' -DRUVO_PALETTE_DIR='"palettes"'
        -DRUVO_TEST_DATA='"tests"')
    # The sysroot carries only the headers the code included when it was
    # made: a file that includes another one cannot be checked against it.
    local objects=() unchecked=() lacking=() f missing
    for f in src/*.cpp tests/*.cpp; do
        missing=$("${cxx[@]}" -M -MG "$root/$f" | tr ' \\' '\n\n' | grep -v -e '^/' -e '^$' -e ':$' |
            sort -u | tr '\n' ' ')
        if [ -n "$missing" ]; then
            unchecked+=("$f")
            lacking+=($missing)
            echo "$f: not in the sysroot: $missing"
            continue
        fi
        case $f in
        src/*)
            "${cxx[@]}" -O2 -fno-exceptions -fno-rtti -c "$f" \
                -o "$work/freebsd/$(basename "$f" .cpp).o" || return 1
            objects+=("$work/freebsd/$(basename "$f" .cpp).o")
            ;;
        *) "${cxx[@]}" -fsyntax-only "$f" || return 1 ;;
        esac
        echo "$f: compiled"
    done
    if [ ${#unchecked[@]} -eq 0 ]; then
        ld.lld -pie --eh-frame-hdr -m elf_x86_64 --dynamic-linker /libexec/ld-elf.so.1 \
            --no-undefined -o "$work/freebsd/ruvo" "$sysroot/usr/lib/Scrt1.o" "${objects[@]}" \
            -L"$sysroot/usr/lib" -lc || return 1
        local needed
        needed=$(readelf -d "$work/freebsd/ruvo" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
            tr '\n' ' ')
        echo "linked; NEEDED: $needed"
        [ "$needed" = "libc.so.7 " ]
        return
    fi
    local headers
    headers=$(printf '%s\n' "${lacking[@]}" | sort -u | tr '\n' ' ')
    echo "incomplete: the sysroot lacks ${headers}so ${unchecked[*]} were not compiled and" \
        "nothing was linked; rebuild it with ../shared/freebsd-sysroot/make-sysroot.sh"
    return 77
}

check libcxx libcxx
check musl musl
check posix posix
check freebsd freebsd
exit $failed
