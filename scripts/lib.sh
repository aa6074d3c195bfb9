# Shared by the scripts in this folder: installing what a fresh Debian machine lacks.

# ensure_packages PKG...: installs those of the Debian packages that are missing.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing Debian packages: ${missing[*]} (run as root to install them)" >&2
        return 1
    fi
    local arch
    for pkg in "${missing[@]}"; do
        case "$pkg" in
        *:i386)
            if ! dpkg --print-foreign-architectures | grep -qx i386; then
                dpkg --add-architecture i386
                QORAMARK_APT_UPDATED=
            fi
            ;;
        esac
    done
    if [ -z "${QORAMARK_APT_UPDATED:-}" ]; then
        apt-get -o DPkg::Lock::Timeout=900 update -q
        QORAMARK_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q "${missing[@]}"
}

# Packages the POSIX build and its unit tests need.
POSIX_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libsqlite3-dev sqlite3 python3)
