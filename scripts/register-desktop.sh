#!/usr/bin/env bash
# Makes a build in this checkout the user's Velmora: copies of the desktop entry and the D-Bus
# service file in src/platform/linux/ (their templates, app.velmora.Velmora.desktop.in and .service.in),
# as app.velmora.Velmora in ~/.local/share/applications and ~/.local/share/dbus-1/services, their
# Exec lines starting COMMAND (with the template's arguments after it) and TryExec naming PROGRAM;
# the icon in the user's icon theme; and the entry the default handler of velmora: URLs. Start at
# login runs the same Exec.
# Usage: register-desktop.sh PROGRAM COMMAND...
set -euo pipefail
src=$(cd "$(dirname "$0")/../src/platform/linux" && pwd)
id=app.velmora.Velmora
data=${XDG_DATA_HOME:-$HOME/.local/share}
program=$1
shift

# COMMAND as an Exec value: an argument with a space is quoted; characters that would need
# escaping are refused.
command=
for arg in "$@"; do
  [[ $arg != *[\"\`\$\\%]* ]] || { echo "Cannot name $arg in a desktop entry" >&2 && exit 1; }
  [[ $arg == *[[:space:]\'\>\<~\|\&\;\*\?\#\(\)]* ]] && arg="\"$arg\""
  command+=${command:+ }$arg
done
# Each Exec keeps its arguments after the program; TryExec names the program.
rewrite() {
  local line value
  while IFS= read -r line; do
    case $line in
      TryExec=*) ;;
      Exec=*)
        value=${line#Exec=}
        [[ $value == *" "* ]] && value=" ${value#* }" || value=
        echo "Exec=$command$value"
        ;;
      "[Desktop Entry]") printf '%s\nTryExec=%s\n' "$line" "$program" ;;
      *) echo "$line" ;;
    esac
  done <"$1" >"$2.new"
  mv "$2.new" "$2"
}
template() { find "$src" -maxdepth 2 -name "$1" | sort | head -n1; }

entry=$(template "$id.desktop*")
entry=${entry:-$(template '*.desktop*')}
mkdir -p "$data/applications"
rewrite "$entry" "$data/applications/$id.desktop"
service=$(template "$id.service*")
if [[ -n $service ]]; then
  mkdir -p "$data/dbus-1/services"
  rewrite "$service" "$data/dbus-1/services/$id.service"
fi
icon=$(sed -n 's/^Icon=//p' "$entry" | head -n1)
if [[ -n $icon ]]; then
  mkdir -p "$data/icons/hicolor/scalable/apps"
  cp "$src/icons/AppIcon.svg" "$data/icons/hicolor/scalable/apps/$icon.svg"
fi

xdg-mime default "$id.desktop" x-scheme-handler/velmora
! command -v update-desktop-database >/dev/null || update-desktop-database -q "$data/applications"
# A session bus reads new service files when told to.
[[ -z ${DBUS_SESSION_BUS_ADDRESS:-} ]] || dbus-send --session --dest=org.freedesktop.DBus \
  --type=method_call /org/freedesktop/DBus org.freedesktop.DBus.ReloadConfig 2>/dev/null || true
