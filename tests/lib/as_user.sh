# Runs a command as an ordinary user, for whom permissions hold (root passes
# every one): as root, with every capability dropped, so that file modes bind
# it while the folders on the way to the checkout, wherever it lies, stay
# its own. Sourced.
as_user() {
    if [ "$(id -u)" -eq 0 ]; then
        setpriv --bounding-set=-all --inh-caps=-all --ambient-caps=-all -- "$@"
    else
        "$@"
    fi
}
