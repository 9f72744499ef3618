# Sourced by the run-in-*.sh scripts, first thing: `desktop_session USER "$0" "$@"`. Under root it
# runs the calling script again as USER, an unprivileged user made for the purpose (compositors
# refuse root, and the desktop's own services run as the user); without a session bus, inside a
# private session of its own (run-in-session.sh --no-display). Once in one, it returns.
desktop_session() {
  local user=$1 script=$2 session
  shift 2
  session=$(dirname "${BASH_SOURCE[0]}")/../../support/run-in-session.sh
  if [[ $(id -u) -eq 0 ]]; then
    id -u "$user" &>/dev/null || useradd --system --no-create-home --shell /usr/sbin/nologin "$user" ||
      id -u "$user" >/dev/null
    local as_user=(setpriv --reuid="$user" --regid="$user" --init-groups)
    # A checkout in a folder closed to others (/root) stays readable to the user.
    "${as_user[@]}" test -r "$script" ||
      as_user+=(--inh-caps=+dac_read_search --ambient-caps=+dac_read_search)
    exec "${as_user[@]}" -- env -u TMPDIR bash "$session" --no-display bash "$script" "$@"
  fi
  [[ -n ${DBUS_SESSION_BUS_ADDRESS:-} ]] || exec bash "$session" --no-display bash "$script" "$@"
}
