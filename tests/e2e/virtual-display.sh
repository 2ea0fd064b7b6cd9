# shellcheck shell=bash
# Sourced by the window checks, first thing: runs the check again on a virtual display of its
# own, with its arguments, so that it never touches the user's desktop, and lets Qt pick the
# display's platform rather than a test run's offscreen one.
if [ -z "${DISPLAY:-}" ] || [ -z "${QUILLORA_UNDER_XVFB:-}" ]; then
    export QUILLORA_UNDER_XVFB=1
    exec "$(dirname "${BASH_SOURCE[0]}")/on-xvfb.sh" "$0" "$@"
fi
unset QT_QPA_PLATFORM
