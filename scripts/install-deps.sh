#!/usr/bin/env bash
# Installs the build and test dependencies on Debian 12 (run as root).
# Idempotent: only missing packages are installed, and the package lists are
# refreshed only when something is missing. The system MariaDB service is
# never started; the tests start their own server.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
  build-essential
  cmake
  pkg-config
  jq
  libgtest-dev
  libmariadb-dev
  mariadb-server
  mariadb-client
  qt6-base-dev
  locales
  openssl
)
LOCALE_NAME="de_DE.UTF-8"

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=(sudo -n)
  fi
fi

as_root() {
  if [ "$(id -u)" -eq 0 ] || [ ${#SUDO[@]} -gt 0 ]; then
    "${SUDO[@]}" "$@"
  else
    echo "install-deps: must run as root to do: $*" >&2
    exit 1
  fi
}

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for pkg in "${PACKAGES[@]}"; do
  is_installed "$pkg" || missing+=("$pkg")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  # Keep the package scripts from starting services (the MariaDB server in
  # particular) while installing. An existing policy is left alone.
  policy=/usr/sbin/policy-rc.d
  made_policy=0
  if [ ! -e "$policy" ]; then
    as_root sh -c "printf '#!/bin/sh\nexit 101\n' > $policy && chmod 755 $policy"
    made_policy=1
  fi
  cleanup_policy() {
    if [ "$made_policy" -eq 1 ]; then
      as_root rm -f "$policy" || true
    fi
  }
  trap cleanup_policy EXIT

  as_root env DEBIAN_FRONTEND=noninteractive apt-get update
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y \
    --no-install-recommends -o Dpkg::Options::=--force-confdef \
    -o Dpkg::Options::=--force-confold "${missing[@]}" </dev/null

  cleanup_policy
  made_policy=0
  trap - EXIT
else
  echo "install-deps: all packages present"
fi

# The tests also run under a German locale (decimal comma).
has_locale() {
  locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | grep -qx 'de_de\.utf-\?8'
}
if ! has_locale; then
  echo "install-deps: generating locale $LOCALE_NAME"
  if [ -f /etc/locale.gen ] && grep -q "^# *$LOCALE_NAME UTF-8" /etc/locale.gen; then
    as_root sed -i "s/^# *\($LOCALE_NAME UTF-8\)/\1/" /etc/locale.gen
  elif ! grep -q "^$LOCALE_NAME UTF-8" /etc/locale.gen 2>/dev/null; then
    as_root sh -c "echo '$LOCALE_NAME UTF-8' >> /etc/locale.gen"
  fi
  as_root locale-gen
  if ! has_locale; then
    echo "install-deps: locale $LOCALE_NAME could not be generated" >&2
    exit 1
  fi
fi
echo "install-deps: done"
