# Shared by the project's scripts: install missing Debian packages.
# usage: ensure_packages pkg...
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

NATIVE_PACKAGES=(g++ make cmake googletest libbenchmark-dev espeak-ng sox clang-format clang-tidy
  g++-multilib qemu-user-static)
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 xvfb xauth
  pulseaudio pulseaudio-utils xdotool imagemagick fonts-wine x11-utils espeak-ng sox python3-numpy)
