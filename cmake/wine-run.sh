#!/usr/bin/env bash
# Runs a Windows program under Wine: wine-run.sh ARCH PROGRAM.exe [ARGS...]
# ARCH is x86_64 or i686. The 64-bit loader is called directly, so 64-bit
# programs run even where 32-bit Linux programs cannot. Wine's own chatter is
# off unless WINEDEBUG says otherwise.
set -euo pipefail
arch=${1:?usage: wine-run.sh x86_64|i686 program.exe [args...]}
shift
case "$arch" in
  x86_64) loader=/usr/lib/wine/wine64 ;;
  i686) loader=/usr/lib/wine/wine ;;
  *) echo "wine-run.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
if [ ! -x "$loader" ]; then
  echo "wine-run.sh: $loader is missing (scripts/setup.sh --windows installs Wine)" >&2
  exit 2
fi
export WINELOADER=$loader
export WINEDEBUG=${WINEDEBUG:--all}
# No prompts to install .NET or an HTML engine into a new prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec "$loader" "$@"
