// The few S3 requests push needs (HEAD and PUT of one object), signed with libcurl's own AWS
// Signature Version 4. Works with any S3 implementation: AWS, Cloudflare R2, Google Cloud
// Storage's XML API, Ceph's RADOS Gateway, MinIO. Host only.
#pragma once

#include <cstdint>
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
// and prefix keep to the characters that need no escaping in a URL or a signature.
bool ParseS3Target(const std::string& to, const std::string& endpoint, S3Target& target,
                   std::string& error);

// AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY, AWS_SESSION_TOKEN (optional) and the region:
// `regionOption`, else AWS_REGION, else us-east-1.
bool CredentialsFromEnvironment(const std::string& regionOption, S3Target& target,
                                std::string& error);

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

// A local file to store under a key, with what the object is to say about itself.
struct S3Upload {
    std::string path;
    uint64_t size = 0;
    std::string sha256;  // hex, sent as x-amz-content-sha256 (the store checks the body against
                         // it) and kept as the object's x-amz-meta-sha256
    std::string contentType, cacheControl;
    bool onlyIfAbsent = false;  // If-None-Match: *: the store answers 412 rather than replace
    std::function<void(uint64_t sent)> progress;  // called as the body goes out
};

bool S3Put(const S3Target& target, const std::string& key, const S3Upload& upload,
           S3Answer& answer);
