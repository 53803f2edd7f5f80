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

# Configures and builds one build folder: tavio_build FOLDER BUILD_TYPE [CMAKE ARGS...]
tavio_build() {
    local folder="$1"
    local type="$2"
    shift 2
    cmake -S "$TAVIO_SOURCE" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@"
    cmake --build "$folder" -j "$(tavio_jobs)"
}

# Parallel jobs: one per core, at most what the machine has.
tavio_jobs() {
    nproc 2>/dev/null || echo 2
}
