# The origin when the tree lives in an S3 bucket that `varnok-publish push` fills (a Ceph RADOS
# Gateway, MinIO, AWS S3, R2, ...), read publicly through a bucket policy. Use a copy of this file,
# with your gateway's address, host name and bucket (and push's prefix, if any), as origin.vcl
# first on Varnish's vcl_path in place of the nginx origin's. Path-style: a request for /x asks the
# gateway for /<bucket>/x under the gateway's own host name, so no DNS name per bucket is needed.
backend origin {
    .host = "127.0.0.1";
    .port = "7480";
    # varnish.vcl asks every origin by the backend's own host name: here the gateway's.
    .host_header = "127.0.0.1:7480";
    .connect_timeout = 5s;
    .first_byte_timeout = 20s;
    .between_bytes_timeout = 20s;
}

sub vcl_backend_fetch {
    # After varnish.vcl's vcl_recv has made the path one of the served ones, without a query
    # string (which would turn the object into an S3 call on the bucket, ?acl or ?list-type=2);
    # the cache keeps the path installers ask for, and only the request to the gateway names the
    # bucket.
    set bereq.url = "/varnok-updates" + bereq.url;
    # What a client says to the store is not passed on: an x-amz-* header changes what the gateway
    # answers (an SSE-C key or algorithm, a requester-pays or bucket-owner claim, a checksum mode,
    # a token), and the first client to miss would choose it for everyone the answer is cached
    # for. VCL cannot drop headers by prefix, so these are every request header S3 reads on a GET
    # or HEAD of an object; push's own requests never come this way.
    unset bereq.http.x-amz-security-token;
    unset bereq.http.x-amz-date;
    unset bereq.http.x-amz-content-sha256;
    unset bereq.http.x-amz-request-payer;
    unset bereq.http.x-amz-expected-bucket-owner;
    unset bereq.http.x-amz-checksum-mode;
    unset bereq.http.x-amz-mfa;
    unset bereq.http.x-amz-server-side-encryption-customer-algorithm;
    unset bereq.http.x-amz-server-side-encryption-customer-key;
    unset bereq.http.x-amz-server-side-encryption-customer-key-md5;
    unset bereq.http.x-amz-user-agent;
    unset bereq.http.x-amz-te;
}

sub vcl_backend_response {
    # The objects carry the served paths' Cache-Control (push gives each its own). An error says
    # nothing about caching, and an object store answers a key not there yet with 403 or 404:
    # never kept, so a payload that is uploaded a moment later is served at once.
    if (beresp.status >= 400) {
        set beresp.http.Cache-Control = "no-store";
        set beresp.uncacheable = true;
        set beresp.ttl = 0s;
        return (deliver);
    }
}
