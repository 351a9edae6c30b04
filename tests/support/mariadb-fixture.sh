#!/bin/bash
# A private MariaDB server for the tests.
#
#   mariadb-fixture.sh start <dir>   fresh data folder in <dir>/data, server on a free loopback
#                                    port (written to <dir>/port), root without a password
#   mariadb-fixture.sh stop <dir>    stops that server and removes its data
#
# With KOVANI_MARIADB_FIXTURE_PORT set, that port is used instead of a free one.
#
# Besides root the server has one account the test helpers use to reset it whatever the tests
# did to root: 'kovani_fixture'@'localhost', password in <dir>/admin-password, through the socket
# <dir>/mysqld.sock.
set -u

command=${1:-}
dir=${2:-}
if [ -z "$command" ] || [ -z "$dir" ]; then
    echo "usage: $0 start|stop <dir>" >&2
    exit 2
fi

admin_user=kovani_fixture
admin_password=fixture-admin-7Qm2

mariadbd_bin=$(command -v mariadbd || echo /usr/sbin/mariadbd)
install_db_bin=$(command -v mariadb-install-db || command -v mysql_install_db)
client_bin=$(command -v mariadb || command -v mysql)
admin_bin=$(command -v mariadb-admin || command -v mysqladmin)
# The server runs as whoever runs the tests; only root has to say so explicitly.
run_as=()
if [ "$(id -u)" -eq 0 ]; then
    run_as=(--user=root)
fi

server_pid() {
    [ -f "$dir/mysqld.pid" ] || return 1
    local pid
    pid=$(cat "$dir/mysqld.pid" 2>/dev/null)
    [[ "$pid" =~ ^[0-9]+$ ]] || return 1
    # Only a mariadbd whose data folder is ours.
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- "--datadir=$dir/data" || return 1
    echo "$pid"
}

stop_server() {
    local pid
    pid=$(server_pid) || return 0
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 1 150); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
}

port_taken() {
    if command -v ss >/dev/null 2>&1; then
        ss -Htln "sport = :$1" 2>/dev/null | grep -q .
    else
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
    fi
}

start() {
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    stop_server
    rm -rf "$dir/data" "$dir/tmp" "$dir/port" "$dir/mysqld.pid" "$dir/mysqld.sock"
    mkdir -p "$dir/data" "$dir/tmp"

    if ! "$install_db_bin" --no-defaults "${run_as[@]}" --datadir="$dir/data" \
            --auth-root-authentication-method=normal --skip-test-db \
            --skip-name-resolve >"$dir/install.log" 2>&1; then
        echo "mariadb-install-db failed:" >&2
        cat "$dir/install.log" >&2
        exit 1
    fi

    local attempt port pid
    for attempt in $(seq 1 20); do
        port=${KOVANI_MARIADB_FIXTURE_PORT:-$(( 20000 + RANDOM % 40000 ))}
        if [ "$port" = 8080 ] || [ "$port" = 8081 ] || port_taken "$port"; then
            [ -n "${KOVANI_MARIADB_FIXTURE_PORT:-}" ] && break
            continue
        fi
        rm -f "$dir/error.log"
        setsid "$mariadbd_bin" --no-defaults \
            "${run_as[@]}" \
            --datadir="$dir/data" \
            --tmpdir="$dir/tmp" \
            --socket="$dir/mysqld.sock" \
            --pid-file="$dir/mysqld.pid" \
            --log-error="$dir/error.log" \
            --port="$port" \
            --bind-address=127.0.0.1 \
            --skip-log-bin \
            --innodb-buffer-pool-size=32M \
            --innodb-log-file-size=16M \
            --max-connections=200 \
            </dev/null >"$dir/server.out" 2>&1 &
        pid=$!
        for _ in $(seq 1 300); do
            if ! kill -0 "$pid" 2>/dev/null; then
                break
            fi
            if "$admin_bin" --no-defaults --protocol=socket --socket="$dir/mysqld.sock" --user=root \
                    --password= ping >/dev/null 2>&1; then
                break
            fi
            sleep 0.1
        done
        if ! kill -0 "$pid" 2>/dev/null; then
            # Most likely the port was taken between the check and the bind; try another.
            [ -n "${KOVANI_MARIADB_FIXTURE_PORT:-}" ] && break
            continue
        fi
        if ! "$admin_bin" --no-defaults --host=127.0.0.1 --protocol=tcp --port="$port" --user=root \
                --password= ping >/dev/null 2>&1; then
            kill -KILL "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
            continue
        fi

        # Root exists once, at localhost, without a password; nothing else but the helper account.
        if ! "$client_bin" --no-defaults --protocol=socket --socket="$dir/mysqld.sock" --user=root --password= -e "
                DELETE FROM mysql.global_priv WHERE NOT (User = 'root' AND Host = 'localhost') AND User <> 'mariadb.sys';
                FLUSH PRIVILEGES;
                CREATE USER '$admin_user'@'localhost' IDENTIFIED BY '$admin_password';
                GRANT ALL PRIVILEGES ON *.* TO '$admin_user'@'localhost' WITH GRANT OPTION;
                FLUSH PRIVILEGES;" >"$dir/prepare.log" 2>&1; then
            echo "could not prepare the accounts:" >&2
            cat "$dir/prepare.log" >&2
            stop_server
            exit 1
        fi
        printf '%s' "$admin_password" >"$dir/admin-password"
        printf '%s' "$admin_user" >"$dir/admin-user"
        printf '%s\n' "$port" >"$dir/port"
        echo "MariaDB fixture running on 127.0.0.1:$port (pid $pid, data $dir/data)"
        exit 0
    done
    echo "could not start mariadbd:" >&2
    cat "$dir/error.log" >&2 2>/dev/null
    exit 1
}

stop() {
    [ -d "$dir" ] || exit 0
    dir=$(cd "$dir" && pwd)
    stop_server
    rm -rf "$dir/data" "$dir/tmp" "$dir/port" "$dir/mysqld.sock"
    exit 0
}

case "$command" in
    start) start ;;
    stop) stop ;;
    *) echo "usage: $0 start|stop <dir>" >&2; exit 2 ;;
esac
