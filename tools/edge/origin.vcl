# The origin this edge asks: nginx serving the update tree with nginx-updates-paths.conf, on an
# address only the edge can reach. Keep a copy with your own address first on vcl_path, and the
# host name the origin answers to as .host_header (an object store's bucket host, for example):
# every request reaches the origin with that name, whatever name the client gave the edge.
backend origin {
    .host = "127.0.0.1";
    .port = "8080";
    .host_header = "updates.example";
    .connect_timeout = 5s;
    .first_byte_timeout = 20s;
    .between_bytes_timeout = 20s;
}
