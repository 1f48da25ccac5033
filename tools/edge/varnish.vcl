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
    # One file has one spelling. The origin ignores a query string and merges repeated slashes,
    # so every "?x=n" or "//" would otherwise be a full origin fetch and a new year-long object,
    # and a few of them push the real payload out of the store. An absolute-form request line
    # names its host, which is dropped with the rest of the host; with no path at all ("GET
    # http://host") what is left is "/", never an empty URL, which would fail the VCL (503).
    set req.url = regsub(req.url, "^[A-Za-z][A-Za-z0-9+.-]*://[^/]*(/|$)", "/");
    set req.url = regsub(req.url, "[?#].*$", "");
    set req.url = regsuball(req.url, "/{2,}", "/");
    # Only what the origin serves is asked of it, each name spelled as installers and users spell
    # it: no dot-file (a publish's temporary, the lock), no percent-encoding, no "." or ".."
    # segment. The rest costs neither an origin fetch nor room in the store.
    if (req.url !~ "^/(api/updates/manifest|api/updates/files/[A-Za-z0-9_-][A-Za-z0-9._-]*|VarnokClientSetup\.exe|VarnokClientSetup\.exe\.sha256|VarnokClientSetup-[0-9]+\.[0-9]+\.[0-9]+\.exe)$") {
        return (synth(404));
    }
    # From here Varnish's built-in rules decide, on the origin's headers alone.
}

# The Host a client names is not part of the file either: hitch passes any Host on, and the origin
# serves one tree whatever it is told. One object per path, and the origin is asked by its own
# name, so a made-up Host neither makes a copy nor picks what the origin answers.
sub vcl_hash {
    hash_data(req.url);
    return (lookup);
}

sub vcl_backend_fetch {
    # Without a Host of its own, the request gets the backend's .host_header (origin.vcl), or
    # its address.
    unset bereq.http.Host;
}

sub vcl_synth {
    # Varnish never stores its own answers; caches in front of it must not either, so that a
    # path served after a change of this file is not answered 404 from a copy.
    set resp.http.Cache-Control = "no-store";
}
