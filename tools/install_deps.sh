#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, and only the
# ones that are missing. Used by `make demo`, `make test` and .ci/run.
#   tools/install_deps.sh [build|test|mpi|bench|fuzz]...   (default: build test)
set -euo pipefail

declare -A groups=(
    [build]="g++ make"
    [test]="libgtest-dev libgmock-dev"
    [mpi]="openmpi-bin libopenmpi-dev"
    # The topology benchmark times the JSON library's own parser as a baseline.
    [bench]="nlohmann-json3-dev"
    # clang 14 cannot compile the core: libstdc++ 12 offers std::expected only
    # to compilers with C++20 concepts in full, which clang has from 19 on.
    [fuzz]="clang-19 libclang-rt-19-dev"
)

wanted=()
for group in "${@:-build test}"; do
    for g in $group; do
        [[ -n ${groups[$g]+x} ]] || { echo "install_deps.sh: unknown group '$g'" >&2; exit 2; }
        read -ra pkgs <<<"${groups[$g]}"
        wanted+=("${pkgs[@]}")
    done
done
# CMake from Debian only when none is on PATH (a newer one from pip is fine).
command -v cmake >/dev/null 2>&1 || wanted+=(cmake)

missing=()
for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$pkg")
done
((${#missing[@]})) || exit 0

echo "installing Debian packages: ${missing[*]}"
sudo=()
if ((EUID != 0)); then
    command -v sudo >/dev/null 2>&1 || {
        echo "error: missing Debian packages ${missing[*]}; run as root or install them" >&2
        exit 1
    }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
