#!/bin/sh
# Demo installer for the Telvane Quorvin demo agent.
#
# Keeps the installer side of the launcher's contract:
#   -silent                      install without asking or narrating
#   -W adminCheck.active=false   accepted; this installer installs per user
#   -V NAME=value                APPDATALOCATION (the agent's data directory),
#                                licenseAccepted, STANDALONE; other names are
#                                accepted and ignored
#   anything else                a pass-through argument ([INSTALLER] ARG or
#                                -installerArgs), reported and otherwise unused
# It installs the agent, records where in the file the launcher reads next,
# and writes the two files from which the launcher reads the installed
# version. The launcher tells it where that file is, in its environment:
#   QUORVIN_LOCATION_FILE      the location key or reference file, absolute
#   QUORVIN_ADMIN              1 in admin mode, else 0
#   QUORVIN_REQUIRED_VERSION   [MANAGER] VERSION
#   QUORVIN_PACKAGE_DIR        the package (the launcher's directory)
# Exit status: 0 installed, 1 failed. (232 would mean "cancelled by the
# user"; this installer never asks, so it never cancels.)
set -u

AGENT_VERSION=1.0.0
PACKAGE_ID=com.telvane.quorvin.agent

fail() {
  echo "demo installer: $*" >&2
  exit 1
}

silent=0
data_dir=
extra=
while [ $# -gt 0 ]; do
  case $1 in
    -silent)
      silent=1
      ;;
    -W)
      [ $# -ge 2 ] || fail "-W needs a value"
      shift
      ;;
    -V)
      [ $# -ge 2 ] || fail "-V needs a NAME=value pair"
      shift
      case $1 in
        *=*) name=${1%%=*} value=${1#*=} ;;
        *) name=$1 value= ;;
      esac
      # The launcher wraps the data location in double quotes; the quote
      # characters arrive as part of the argument.
      case $value in
        \"*\") value=${value#\"} value=${value%\"} ;;
      esac
      case $name in
        APPDATALOCATION) data_dir=$value ;;
      esac
      ;;
    *)
      extra="$extra [$1]"
      ;;
  esac
  shift
done

[ -n "${QUORVIN_PACKAGE_DIR:-}" ] ||
  fail "run me through the package's launcher: it tells me where to install"
[ -n "${QUORVIN_LOCATION_FILE:-}" ] ||
  fail "the launcher reads no location file (no LOCATION_KEY or LOCATION_FILE, or no home directory)"
key_file=$QUORVIN_LOCATION_FILE
package_dir=$QUORVIN_PACKAGE_DIR

# The same home directory the launcher uses: HOME, else the password entry.
home=${HOME:-}
if [ -z "$home" ]; then
  home=$(getent passwd "$(id -u)" | cut -d: -f6)
fi
[ -n "$home" ] || fail "no home directory"

agent_dir=$home/.local/share/quorvin-demo/agent
[ -n "$data_dir" ] || data_dir=$home/.local/share/quorvin-demo/data
case $data_dir in
  /*) ;;
  *) data_dir=$(pwd)/$data_dir ;;
esac

if [ "$silent" -eq 0 ]; then
  echo "demo installer: installing the demo agent $AGENT_VERSION"
  echo "demo installer:   agent directory  $agent_dir"
  echo "demo installer:   data directory   $data_dir"
  echo "demo installer:   location file    $key_file"
  echo "demo installer:   required version ${QUORVIN_REQUIRED_VERSION:-any}"
  [ -z "$extra" ] || echo "demo installer:   extra arguments$extra"
fi

mkdir -p "$agent_dir/eclipse/configuration" "$data_dir" ||
  fail "cannot create $agent_dir or $data_dir"
if ! cp "$package_dir/agent/demo-agent" "$agent_dir/demo-agent" ||
   ! chmod 755 "$agent_dir/demo-agent"; then
  fail "cannot install the agent program"
fi

cat > "$agent_dir/eclipse/configuration/config.ini" <<CONFIG || fail "cannot write config.ini"
# Written by the demo installer.
zel.appDataLocation=$data_dir
CONFIG

cat > "$data_dir/installed.xml" <<XML || fail "cannot write installed.xml"
<?xml version='1.0' encoding='UTF-8'?>
<installed>
  <package id='$PACKAGE_ID' version='$AGENT_VERSION'/>
</installed>
XML

# The key file is private to the user, as the launcher's own key store makes it.
(umask 077 && mkdir -p "$(dirname "$key_file")" &&
  printf 'location=%s\nversion=%s\n' "$agent_dir" "$AGENT_VERSION" > "$key_file") ||
  fail "cannot write $key_file"

exit 0
