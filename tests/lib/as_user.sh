# Runs a command as an ordinary user, for whom permissions hold (root passes
# every one): a system user made for the tests when run as root. Sourced.
as_user() {
    if [ "$(id -u)" -eq 0 ]; then
        id -u korvat-test >/dev/null 2>&1 ||
            useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin korvat-test
        runuser -u korvat-test -- "$@"
    else
        "$@"
    fi
}
