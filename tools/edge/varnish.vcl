# Varnish as an edge cache in front of an update server's origin (nginx with
# tools/nginx-updates-paths.conf), with hitch (hitch.conf) terminating TLS in front of it. It keeps
# what the origin's Cache-Control allows for as long as it allows, and nothing else: the manifest
# a few seconds, a payload for a year, a missing file never. Start it with this folder on the VCL
# path and your own origin.vcl (the backend) first on it:
#   varnishd -a 127.0.0.1:6081 -f /path/to/tools/edge/varnish.vcl -s malloc,1g \
#            -p vcl_path=/etc/varnish:/path/to/tools/edge
vcl 4.1;

include "origin.vcl";

sub vcl_recv {
    # Installers and browsers only ever GET (or HEAD) these files; nothing else reaches the origin.
    if (req.method != "GET" && req.method != "HEAD") {
        return (synth(405));
    }
    # Who asks never changes the answer: credentials and cookies are dropped rather than letting
    # them turn every request into a pass to the origin.
    unset req.http.Authorization;
    unset req.http.Cookie;
    # From here Varnish's built-in rules decide, on the origin's headers alone.
}
