// The few S3 requests push needs (HEAD, GET, PUT and CopyObject of one object), signed with
// libcurl's own AWS Signature Version 4. Works with any S3 implementation: AWS, Cloudflare R2,
// Google Cloud Storage's XML API, Ceph's RADOS Gateway, MinIO. Host only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "tools/verify.h"

// Where objects go and who signs for them.
struct S3Target {
    std::string scheme;  // "https" or "http"
    std::string host;    // the endpoint's host[:port]
    std::string bucket;
    std::string prefix;        // "" or "a/b/": put before every key
    bool virtualHost = false;  // <bucket>.<host> in place of <host>/<bucket>
    std::string region;
    std::string accessKey, secretKey, sessionToken;
    std::string caFile;  // empty: the system's roots
};

// s3://<bucket>[/<prefix>] and the endpoint URL into `target` (credentials left alone). Bucket
// and prefix keep to the characters that need no escaping in a URL or a signature. http:// sends
// the signed headers and any session token in clear, and anyone on the path may answer for the
// store: taken only for a loopback host, or with `allowHttp`.
bool ParseS3Target(const std::string& to, const std::string& endpoint, bool allowHttp,
                   S3Target& target, std::string& error);

// localhost, 127.0.0.0/8 or [::1], with or without a port: a host no other machine can be.
bool IsLoopbackHost(const std::string& hostAndPort);

// The credentials and region as the AWS tools find them: AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY
// and AWS_SESSION_TOKEN (optional), else the profile AWS_PROFILE (default "default") of the shared
// credentials file (AWS_SHARED_CREDENTIALS_FILE, else ~/.aws/credentials); the region from
// `regionOption`, else AWS_REGION, else AWS_DEFAULT_REGION, else the profile's `region` in the
// config file (AWS_CONFIG_FILE, else ~/.aws/config), else us-east-1.
bool CredentialsFromEnvironment(const std::string& regionOption, S3Target& target,
                                std::string& error);

// The endpoint when --endpoint is not given: AWS_ENDPOINT_URL_S3, else AWS_ENDPOINT_URL; empty
// when neither is set.
std::string EndpointFromEnvironment();

// The object's URL, path-style or virtual-hosted.
std::string ObjectUrl(const S3Target& target, const std::string& key);

struct S3Answer {
    long status = 0;  // 0: no answer (see detail)
    HeaderMap headers;
    std::string body;    // an error's XML, at most a few kilobytes kept
    std::string detail;  // libcurl's words when the request did not complete
};

// The store's own words for a failed answer: "403 SignatureDoesNotMatch: ..." or libcurl's.
std::string DescribeAnswer(const S3Answer& answer);

bool S3Head(const S3Target& target, const std::string& key, S3Answer& answer);

// The SHA-256 of the object's bytes, read back whole (for an object that records none).
bool S3ReadSha256(const S3Target& target, const std::string& key, std::string& sha256,
                  S3Answer& answer);

// Bytes to store under a key, with what the object is to say about itself. The body is `bytes`
// when given, else `size` bytes of `file` from its start; either is hashed as it goes out, and a
// body whose SHA-256 is not `sha256` is cut off before its last byte, so no store ever holds it.
struct S3Upload {
    FILE* file = nullptr;
    const std::string* bytes = nullptr;
    uint64_t size = 0;
    std::string sha256;  // hex, sent as x-amz-content-sha256 (a store may check the body against
                         // it) and kept as the object's x-amz-meta-sha256
    std::string contentType, cacheControl;
    bool onlyIfAbsent = false;  // If-None-Match: *: the store answers 412 rather than replace
    std::function<void(uint64_t sent)> progress;  // called as the body goes out
};

// False with changed_while_sending in answer.detail when the body was not the bytes hashed.
bool S3Put(const S3Target& target, const std::string& key, const S3Upload& upload,
           S3Answer& answer);

// CopyObject of the key onto itself with the metadata replaced by `headers`' (the bytes stay).
// Unconditional: the Ceph gateway fails the signature of any x-amz-copy-source-if-* header and
// ignores If-Match on a copy, so the caller checks afterwards what the copy holds. A store may
// answer 200 with an error in the body: true only for a CopyObjectResult.
bool S3ReplaceHeaders(const S3Target& target, const std::string& key, const S3Upload& headers,
                      S3Answer& answer);
