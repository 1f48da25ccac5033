// `varnok-publish push`: a served update tree into S3-compatible object storage, in the one order
// that keeps every install working while it runs, with each object's headers as the origin's.
// Host only.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

struct PushRequest {
    std::string treeDir;     // the root of the update tree
    std::string to;          // s3://<bucket>[/<prefix>]
    std::string endpoint;    // https:// URL of the store (http:// for a loopback host)
    bool allowHttp = false;  // http:// to any host
    std::string region;      // empty: AWS_REGION, else us-east-1
    bool virtualHost = false;
    std::string publicKey;  // the key installers are built with: required
    std::string verifyUrl;  // empty: no verify afterwards
    std::string caFile;     // for the store and verify; empty: the system's roots
    int64_t now = 0;        // the time installers are assumed to check the tree at
    bool dryRun = false;    // ask (HEAD, and GET to read back) and report; write nothing
};

// Holds the tree's publish lock throughout (refused while a publish or prune holds it), checks
// the tree as `check` does, then uploads what the bucket lacks in this order: the payloads
// the history or the manifest names (never replacing an object: other bytes under a payload's name
// stop the push), the versioned installer copies, VarnokClientSetup.exe and its .sha256, the
// manifest last. An object is the same as the file only by its bytes (the ETag as MD5, else read
// back); each body goes out from the handle it was hashed through, and one that changed since is
// cut off and stops the push. One line per object on `out`; false with the reason in `error` when
// the push stopped, or when verify afterwards failed.
bool PushTree(const PushRequest& request, std::ostream& out, std::string& error);
