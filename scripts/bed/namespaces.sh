# Sourced: bed_enter SCRIPT ARGS... re-runs the script in private network, mount and UTS namespaces when the
# machine allows them; everything set up inside (links, mounts, the host name, servers on loopback) ends with
# them. Afterwards bed_inside is 1 inside the namespaces and empty where they could not be made.
bed_enter() {
    bed_inside=
    if [ -n "${TOLLAN_BED_INSIDE:-}" ]; then
        bed_inside=1
    elif unshare --net --mount --uts true 2>/dev/null; then
        TOLLAN_BED_INSIDE=1 exec unshare --net --mount --uts "$@"
    fi
}
