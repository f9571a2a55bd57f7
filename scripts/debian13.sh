#!/usr/bin/env bash
# Proves the build on Debian 13 (trixie): bootstraps a fresh root with
# mmdebstrap, clones this repository into it and runs the README's test command
# there. Run as root (CI is). The root lives in a temporary folder and is
# removed afterwards; its mounts live in a private mount namespace, so they go
# away with it even when the run is killed.
#   scripts/debian13.sh             bootstrap, clone, ./test.sh
#   KELVO_TRIXIE_ROOT=DIR scripts/debian13.sh
#                                   reuse (or create and keep) the root in DIR
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/apt-update.sh"

if [ "$(id -u)" -ne 0 ]; then
  echo "debian13.sh: needs root (bootstrapping and entering a root file system)" >&2
  exit 1
fi
if ! command -v mmdebstrap >/dev/null 2>&1; then
  echo "debian13.sh: installing mmdebstrap"
  apt_update env DEBIAN_FRONTEND=noninteractive apt-get
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    mmdebstrap debian-archive-keyring
fi
for tool in mmdebstrap unshare git; do
  command -v "$tool" >/dev/null 2>&1 || { echo "debian13.sh: $tool is not installed" >&2; exit 1; }
done

# The same mirror as this machine's Debian sources, so that whatever route the
# machine takes to the registry (a local mirror, a proxy) works inside too.
mirror=$(grep -hoE '^(URIs:|deb)[[:space:]]+[^[:space:]]+/debian/?([[:space:]]|$)' \
           /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
         grep -oE '[a-z+]+://[^[:space:]]+' | head -1 || true)
mirror=${mirror:-http://deb.debian.org/debian}

# This machine's apt settings that say how to reach the mirror (proxies,
# certificates, snapshot validity) go into the root as they are.
aptopts=()
for conf in /etc/apt/apt.conf /etc/apt/apt.conf.d/*; do
  [ -f "$conf" ] || continue
  if grep -qiE 'Acquire::|proxy' "$conf"; then
    aptopts+=(--aptopt="$conf")
  fi
done

keep=${KELVO_TRIXIE_ROOT:-}
root=${keep:-$(mktemp -d /var/tmp/kelvo-trixie.XXXXXX)}
if [ -z "$keep" ]; then
  trap 'rm -rf --one-file-system "$root"' EXIT
fi

start=$(date +%s)
if [ ! -x "$root/usr/bin/apt-get" ]; then
  echo "debian13.sh: bootstrapping Debian 13 from $mirror into $root"
  # mmdebstrap refuses a non-empty target, so a failed try (a mirror in
  # mid-sync) is cleared away before the next.
  for attempt in 1 2 3; do
    if mmdebstrap --quiet --variant=apt --include=ca-certificates "${aptopts[@]}" \
         trixie "$root" "deb $mirror trixie main" "deb $mirror trixie-updates main"; then
      break
    fi
    if [ "$attempt" -eq 3 ]; then
      echo "debian13.sh: bootstrapping failed $attempt times" >&2
      exit 1
    fi
    echo "debian13.sh: bootstrapping failed; trying again in $((attempt * 20)) s" >&2
    find "$root" -mindepth 1 -maxdepth 1 -exec rm -rf --one-file-system {} +
    sleep $((attempt * 20))
  done
fi
cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

rm -rf "$root/root/kelvo"
git clone --quiet --no-local "$repo" "$root/root/kelvo"
echo "debian13.sh: testing $(git -C "$root/root/kelvo" log -1 --format='%h %s')"

# Inside: /proc, /dev and /sys from the host, fresh /dev/shm and /tmp, and a
# plain environment (the Debian 12 build's variables stay outside).
unshare --mount --propagation private -- bash -euo pipefail -c '
  root=$1
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  mount --rbind /sys "$root/sys"
  mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
  exec chroot "$root" /usr/bin/env -i \
    HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive \
    ${http_proxy:+http_proxy=$http_proxy} ${https_proxy:+https_proxy=$https_proxy} \
    bash -euo pipefail -c "cd /root/kelvo && ./test.sh"
' bash "$root"
echo "debian13.sh: Debian 13 passed in $(( ($(date +%s) - start) / 60 )) min $(( ($(date +%s) - start) % 60 )) s"
