# Sourced by scripts/run, scripts/test and scripts/package: installs the Debian packages the build
# needs (and, with JULIA_WITH_TESTS=1, those the tests need), and looks for the CUDA toolkit, which
# is optional: without it the GPU renderer is not built. Stops with one clear line naming what is
# missing. The aarch64 cross build's packages and build are here too (julia_prepare_arm).

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

# scripts/test's aarch64 stage: Debian's cross compiler, qemu-user to run what it builds, and the
# arm64 builds of the libraries, through multiarch.
JULIA_ARM_PACKAGES=(g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user libc6:arm64
                    libgomp1:arm64 libhwy-dev:arm64 libgtest-dev:arm64 libpng-dev:arm64
                    libfmt-dev:arm64 freeglut3-dev:arm64 libglew-dev:arm64 libgl-dev:arm64)

# Adds the arm64 architecture and installs JULIA_ARM_PACKAGES. Returns 1, with the reason in
# JULIA_ARM_WHY, where that cannot be done (no apt, no root, no arm64 packages in the sources).
julia_prepare_arm() {
    JULIA_ARM_WHY=""
    local sudo=""
    [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null && sudo="sudo"
    if ! dpkg --print-foreign-architectures 2>/dev/null | grep -qx arm64; then
        echo "Adding the arm64 architecture (dpkg --add-architecture arm64) for the aarch64 stage"
        if ! $sudo dpkg --add-architecture arm64 || ! $sudo apt-get update -qq; then
            JULIA_ARM_WHY="could not add the arm64 architecture to dpkg and apt"
            return 1
        fi
    fi
    # In a subshell: julia_install_packages stops the script it runs in on failure.
    if ! (julia_install_packages "${JULIA_ARM_PACKAGES[@]}"); then
        JULIA_ARM_WHY="could not install the cross packages (${JULIA_ARM_PACKAGES[*]}); on Ubuntu the arm64 ones come from ports.ubuntu.com, which apt's sources must list"
        return 1
    fi
}

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

# Configures the aarch64 cross build in build-arm64/ (cmake/aarch64-linux-gnu.cmake, no CUDA) and
# builds the given targets, or all.
julia_build_arm() {
    cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake \
        -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-Release}" >/dev/null \
        || julia_die "CMake could not configure the aarch64 cross build"
    cmake --build build-arm64 -j"$(nproc)" "$@" || julia_die "the aarch64 cross build failed"
}
