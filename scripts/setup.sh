# Sourced by run.sh and test.sh: make sure the Debian packages the build needs are there.
KDR_PACKAGES="cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libqt6serialport6 fonts-dejavu-core libbenchmark-dev xvfb xauth socat"

kdr_missing_packages() {
  local p
  for p in $KDR_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || printf '%s ' "$p"
  done
}

kdr_setup() {
  local missing
  missing=$(kdr_missing_packages)
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" = 0 ]; then
    echo "Installing missing packages: $missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends $missing </dev/null || {
      echo "apt-get install failed" >&2; return 1; }
  else
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get install -y $missing" >&2
    return 1
  fi
}
