# Sourced by the set-up scripts: apt_update runs "apt-get update" the way they
# all need it. A mirror in mid-sync serves an index of the wrong size for a
# while ("File has unexpected size"); apt-get update then fails for that index
# alone. apt_update tries a few times, then goes on with the indexes that did
# arrive, saying so on stderr, and returns 0: what is missing shows later, as a
# package that cannot be installed.
#   apt_update PREFIX...   PREFIX is the command that runs apt-get
#                          (e.g. sudo env DEBIAN_FRONTEND=noninteractive apt-get)
#   APT_UPDATE_PAUSE=S     pause before try N is N*S seconds (default 10)
apt_update() {
  local attempt pause=${APT_UPDATE_PAUSE:-10}
  for attempt in 1 2 3 4; do
    if "$@" update -qq; then
      return 0
    fi
    if [ "$attempt" -eq 4 ]; then
      echo "kelvo setup: apt-get update failed $attempt times; going on with the package lists it has" >&2
    else
      echo "kelvo setup: apt-get update failed (a mirror in mid-sync?); trying again in $((attempt * pause)) s" >&2
      sleep $((attempt * pause))
    fi
  done
  return 0
}
