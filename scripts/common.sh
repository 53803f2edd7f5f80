# Shared by the scripts in this folder: finds the project and installs what a
# fresh Debian machine lacks. Sourced, not run.

TAVIO_SOURCE="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TAVIO_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev clang-format qt6-base-dev)

# Installs the listed packages that are missing. The package index is updated
# only when something has to be installed, and sudo is used only when not root.
tavio_ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg -s "$package" >/dev/null 2>&1; then
            missing+=("$package")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# g++ 12 reports -Wmaybe-uninitialized and -Wrestrict where none can happen
# once the optimizer inlines std::string and std::u16string code (GCC bugs
# 105329 and 105651); optimized builds keep them as warnings, not errors.
# Every other warning stays an error.
TAVIO_OPTIMIZED_FLAGS="-Wno-error=maybe-uninitialized -Wno-error=restrict"

# Configures and builds one build folder: tavio_build FOLDER BUILD_TYPE [CMAKE ARGS...]
tavio_build() {
    local folder="$1"
    local type="$2"
    shift 2
    local flags=()
    if [ "$type" != Debug ]; then
        flags=(-DCMAKE_CXX_FLAGS="$TAVIO_OPTIMIZED_FLAGS")
    fi
    cmake -S "$TAVIO_SOURCE" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE="$type" "${flags[@]}" "$@"
    cmake --build "$folder" -j "$(tavio_jobs)"
}

# Parallel jobs: one per core, at most what the machine has.
tavio_jobs() {
    nproc 2>/dev/null || echo 2
}
