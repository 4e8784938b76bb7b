# Sourced by the scripts that start our programs: loopback ports and what
# the kernel says of the UDP sockets bound to them.
#
#   free_port                a UDP port on 127.0.0.1 that nothing holds
#   proc_udp_key PORT        the socket's local address as /proc/net/udp writes it
#   udp_socket_fields PORT   "drops rx_queue_bytes" of the socket on PORT, or nothing

# The kernel picks it: a socket bound to port 0 gets a free one, which is
# given back at once for the program under test to bind.
free_port() {
    python3 -c 'import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

proc_udp_key() { printf '0100007F:%04X' "$1"; }

udp_socket_fields() {
    local fields drops queue
    fields="$(awk -v key="$(proc_udp_key "$1")" \
        'NR > 1 && $2 == key { split($5, q, ":"); print $13, q[2]; exit }' /proc/net/udp)"
    [[ -n "$fields" ]] || return 0
    read -r drops queue <<<"$fields"
    echo "$drops $((16#$queue))"
}
