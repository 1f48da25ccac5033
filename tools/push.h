// `varnok-publish push`: a served update tree into S3-compatible object storage, in the one order
// that keeps every install working while it runs, with each object's headers as the origin's.
// Host only.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

struct PushRequest {
    std::string treeDir;   // the root of the update tree
    std::string to;        // s3://<bucket>[/<prefix>]
    std::string endpoint;  // https:// (or http://) URL of the store
    std::string region;    // empty: AWS_REGION, else us-east-1
    bool virtualHost = false;
    std::string publicKey;  // empty: the signature's own key (the tree is still checked)
    std::string verifyUrl;  // empty: no verify afterwards
    std::string caFile;     // for the store and verify; empty: the system's roots
    int64_t now = 0;        // the time installers are assumed to check the tree at
};

// Checks the tree as `check` does, then uploads what the bucket lacks in this order: the payloads
// the history or the manifest names (never replacing an object: other bytes under a payload's name
// stop the push), the versioned installer copies, VarnokClientSetup.exe and its .sha256, the
// manifest last. One line per object on `out`; false with the reason in `error` when the push
// stopped, or when verify afterwards failed.
bool PushTree(const PushRequest& request, std::ostream& out, std::string& error);
