# The origin this edge asks: nginx serving the update tree with nginx-updates-paths.conf, on an
# address only the edge can reach. Keep a copy with your own address first on vcl_path.
backend origin {
    .host = "127.0.0.1";
    .port = "8080";
    .connect_timeout = 5s;
    .first_byte_timeout = 20s;
    .between_bytes_timeout = 20s;
}
