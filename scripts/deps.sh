# Sourced by scripts/run, scripts/test and scripts/package: installs the Debian packages the build
# needs (and, with JULIA_WITH_TESTS=1, those the tests need), and looks for the CUDA toolkit, which
# is optional: without it the GPU renderer is not built. Stops with one clear line naming what is
# missing.

julia_die() {
    echo "error: $*" >&2
    exit 1
}

julia_install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    command -v apt-get >/dev/null || julia_die "missing packages (${missing[*]}) and no apt-get to install them"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || julia_die "missing packages (${missing[*]}): run as root or install sudo"
        sudo="sudo"
    fi
    echo "Installing ${missing[*]}"
    $sudo apt-get update -qq || julia_die "apt-get update failed; cannot install ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        || julia_die "could not install ${missing[*]}"
}

# Points CMake at nvcc (CUDACXX) where one is found; CMake then decides whether it works.
julia_find_nvcc() {
    local nvcc
    nvcc=$(command -v nvcc || true)
    [ -z "$nvcc" ] && [ -x /usr/local/cuda/bin/nvcc ] && nvcc=/usr/local/cuda/bin/nvcc
    if [ -n "$nvcc" ]; then
        export CUDACXX="$nvcc"
    else
        echo "No CUDA toolkit (nvcc is neither on PATH nor in /usr/local/cuda/bin): the GPU renderer" \
             "will not be built. For GPU mode install NVIDIA's CUDA toolkit (see the README)."
    fi
}

JULIA_BUILD_PACKAGES=(cmake make g++ freeglut3-dev libglew-dev libgl-dev libgtest-dev libpng-dev libhwy-dev libfmt-dev libcli11-dev)
JULIA_TEST_PACKAGES=(xvfb libx11-dev libxtst-dev desktop-file-utils appstream man-db)
# scripts/package: dpkg-shlibdeps writes the package's Depends; CPack finds the binaries with file;
# the rest check the package.
JULIA_PACKAGE_PACKAGES=(dpkg-dev file lintian desktop-file-utils appstream)

julia_prepare() {
    local pkgs=("${JULIA_BUILD_PACKAGES[@]}")
    [ "${JULIA_WITH_TESTS:-0}" = 1 ] && pkgs+=("${JULIA_TEST_PACKAGES[@]}")
    julia_install_packages "${pkgs[@]}"
    julia_find_nvcc
}

# Configures (Release unless told otherwise) and builds the given targets in build/. Of CMake's
# configure output only whether CUDA is on and the chosen CUDA architectures are shown, or all of
# it when it fails.
julia_build() {
    local out
    if ! out=$(cmake -S . -B build -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-Release}" 2>&1); then
        echo "$out" >&2
        julia_die "CMake could not configure the build"
    fi
    grep -E -- "-- CUDA( architectures)?:" <<<"$out" || true
    cmake --build build -j"$(nproc)" "$@" || julia_die "the build failed"
}
