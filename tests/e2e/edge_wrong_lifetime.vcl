# A deliberately wrong edge, for the test only: the shipped edge, but told to keep the manifest an
# hour whatever the origin says, as a CDN rule overriding the origin's lifetime would.
vcl 4.1;

include "varnish.vcl";

sub vcl_backend_response {
    if (bereq.url == "/api/updates/manifest") {
        set beresp.ttl = 1h;
    }
}
