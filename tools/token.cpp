#include "tools/token.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ecdsa.h>
#include <openssl/rand.h>

#include <p11-kit/p11-kit.h>
#include <p11-kit/uri.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/scope_exit.h"
#include "common/unique_handle.h"
#include "manifest/sha256.h"
#include "tools/bytes.h"
#include "tools/key_files.h"

namespace {

// DER of the named curve P-256 (1.2.840.10045.3.1.7), as CKA_EC_PARAMS holds it.
constexpr unsigned char kP256Params[] = {0x06, 0x08, 0x2A, 0x86, 0x48,
                                         0xCE, 0x3D, 0x03, 0x01, 0x07};

void FinalizeModule(CK_FUNCTION_LIST* module) {
    p11_kit_module_finalize(module);
}
using LoadedModule = UniqueHandle<CK_FUNCTION_LIST*, &p11_kit_module_release>;
using InitializedModule = UniqueHandle<CK_FUNCTION_LIST*, &FinalizeModule>;
using UriHandle = UniqueHandle<P11KitUri*, &p11_kit_uri_free>;
using EcdsaSigHandle = UniqueHandle<ECDSA_SIG*, &ECDSA_SIG_free>;

// One logged-in session on the one token a URI selects. Finalising the module closes the session
// and logs out.
struct OpenToken {
    LoadedModule loaded;
    InitializedModule initialized;  // released first: finalised before it is unloaded
    CK_FUNCTION_LIST* f = nullptr;
    CK_SLOT_ID slot = 0;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    std::string label;     // the token's label, for messages
    std::string pin;       // wiped by whoever holds the record (WipePin)
    bool padAsks = false;  // the token's own PIN pad or reader asks the user
};

void WipePin(OpenToken& t) {
    WipeSecret(t.pin);
}

// The PIN for C_Login: none at all (NULL, 0) when the token's pad asks for it.
CK_UTF8CHAR* PinBytes(OpenToken& t) {
    return t.padAsks ? nullptr : reinterpret_cast<CK_UTF8CHAR*>(t.pin.data());
}
CK_ULONG PinLength(const OpenToken& t) {
    return t.padAsks ? 0 : static_cast<CK_ULONG>(t.pin.size());
}

// A key argument without the blanks around it: " pkcs11:..." is still a token's URI, never a
// file name to echo whole.
std::string_view KeyText(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool IsAttributeName(std::string_view name) {
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
    for (const char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.' &&
            c != '%')
            return false;
    return true;
}

// The names of the attributes in one part of a URI, each value as "...", and anything that is
// not plainly "name=value" as "..." whole.
void AppendNames(std::string_view part, char separator, std::string& shown) {
    for (;;) {
        const size_t end = part.find(separator);
        const std::string_view item = part.substr(0, end);
        const size_t eq = item.find('=');
        if (eq != std::string_view::npos && IsAttributeName(item.substr(0, eq)))
            shown += std::string(item.substr(0, eq)) + "=...";
        else if (!item.empty())
            shown += "...";
        if (end == std::string_view::npos) return;
        shown.push_back(separator);
        part.remove_prefix(end + 1);
    }
}

// The module's own wording beside the number, which is what its documentation lists.
std::string Rv(CK_RV rv) {
    char number[24];
    std::snprintf(number, sizeof(number), "0x%lx", static_cast<unsigned long>(rv));
    const char* text = p11_kit_strerror(rv);
    return std::string("(CKR ") + number + (text ? std::string(": ") + text : "") + ")";
}

std::string Trimmed(const unsigned char* padded, size_t size) {
    std::string text(reinterpret_cast<const char*>(padded), size);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

// The URI's bytes for one attribute (object= is CKA_LABEL, id= CKA_ID, type= CKA_CLASS).
bool UriAttribute(P11KitUri* uri, CK_ATTRIBUTE_TYPE type, std::string& value) {
    const CK_ATTRIBUTE* attribute = p11_kit_uri_get_attribute(uri, type);
    if (!attribute || !attribute->pValue) return false;
    value.assign(static_cast<const char*>(attribute->pValue), attribute->ulValueLen);
    return true;
}

bool ParseKeyUri(const std::string& text, UriHandle& uri, std::string& error) {
    uri.reset(p11_kit_uri_new());
    const int parsed = p11_kit_uri_parse(std::string(KeyText(text)).c_str(),
                                         P11_KIT_URI_FOR_OBJECT_ON_TOKEN, uri.get());
    // A PIN in the URI would sit on the command line and in shell histories; it is never
    // echoed, not even in this refusal.
    if (p11_kit_uri_get_pin_value(uri.get()) || p11_kit_uri_get_pin_source(uri.get())) {
        error = "the pkcs11: URI carries a PIN (pin-value or pin-source); give it with --pin-file";
        return false;
    }
    if (parsed != P11_KIT_URI_OK) {
        error = "not a PKCS#11 URI (" + std::string(p11_kit_uri_message(parsed)) +
                "): " + ShownTokenUri(text);
        return false;
    }
    if (p11_kit_uri_any_unrecognized(uri.get()) || p11_kit_uri_get_module_name(uri.get()) ||
        p11_kit_uri_get_module_path(uri.get())) {
        error =
            "the URI has attributes other than a token's and an object's (give the module "
            "with --pkcs11-module): " +
            ShownTokenUri(text);
        return false;
    }
    std::string type;
    if (UriAttribute(uri.get(), CKA_CLASS, type) &&
        (type.size() != sizeof(CK_OBJECT_CLASS) ||
         *reinterpret_cast<const CK_OBJECT_CLASS*>(type.data()) != CKO_PRIVATE_KEY)) {
        error = "the URI names an object that is not a private key (type=): " + ShownTokenUri(text);
        return false;
    }
    std::string name;
    if (!UriAttribute(uri.get(), CKA_LABEL, name) && !UriAttribute(uri.get(), CKA_ID, name)) {
        error = "the URI names no key: add object=<label> (or id=): " + ShownTokenUri(text);
        return false;
    }
    return true;
}

// Loads the module, finds the one initialised token the URI selects, opens a session and logs in.
bool Open(const TokenKeyRef& ref, P11KitUri* uri, bool readWrite, OpenToken& t,
          std::string& error) {
    if (ref.modulePath.empty()) {
        error = "a pkcs11: key needs --pkcs11-module <the token's PKCS#11 module>";
        return false;
    }
    if (!ref.pinFile.empty() && !ReadPinFile(ref.pinFile, t.pin, error)) return false;
    t.loaded.reset(p11_kit_module_load(ref.modulePath.c_str(), 0));
    if (!t.loaded) {
        const char* why = p11_kit_message();
        error = "cannot load the PKCS#11 module " + ref.modulePath +
                (why ? ": " + std::string(why) : "");
        return false;
    }
    t.f = t.loaded.get();
    if (const CK_RV rv = p11_kit_module_initialize(t.f); rv != CKR_OK) {
        error = "the PKCS#11 module " + ref.modulePath + " does not start " + Rv(rv);
        return false;
    }
    t.initialized.reset(t.f);

    CK_ULONG count = 0;
    CK_RV rv = t.f->C_GetSlotList(CK_TRUE, nullptr, &count);
    std::vector<CK_SLOT_ID> slots(count);
    if (rv == CKR_OK && count > 0) rv = t.f->C_GetSlotList(CK_TRUE, slots.data(), &count);
    if (rv != CKR_OK) {
        error = "cannot list the slots of " + ref.modulePath + " " + Rv(rv);
        return false;
    }
    slots.resize(count);
    std::string present;
    std::vector<CK_SLOT_ID> matching;
    CK_TOKEN_INFO info{}, chosen{};
    for (const CK_SLOT_ID slot : slots) {
        if (t.f->C_GetTokenInfo(slot, &info) != CKR_OK || !(info.flags & CKF_TOKEN_INITIALIZED))
            continue;
        present +=
            (present.empty() ? "\"" : ", \"") + Trimmed(info.label, sizeof(info.label)) + "\"";
        if (p11_kit_uri_match_token_info(uri, &info)) {
            matching.push_back(slot);
            chosen = info;
        }
    }
    if (matching.size() != 1) {
        error = (matching.empty() ? "no token matches " : "more than one token matches ") +
                ShownTokenUri(ref.uri) + " (tokens of " + ref.modulePath + ": " +
                (present.empty() ? "none" : present) + ")";
        return false;
    }
    t.slot = matching[0];
    t.label = Trimmed(chosen.label, sizeof(chosen.label));

    rv = t.f->C_OpenSession(t.slot, CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0), nullptr,
                            nullptr, &t.session);
    if (rv != CKR_OK) {
        error = "cannot open a session on token \"" + t.label + "\" " + Rv(rv);
        return false;
    }
    if (!(chosen.flags & CKF_LOGIN_REQUIRED)) return true;
    // A PIN pad or a biometric reader asks the user itself.
    t.padAsks = ref.pinFile.empty() && (chosen.flags & CKF_PROTECTED_AUTHENTICATION_PATH);
    if (ref.pinFile.empty() && !t.padAsks) {
        error = "token \"" + t.label + "\" needs its user PIN: give it with --pin-file";
        return false;
    }
    rv = t.f->C_Login(t.session, CKU_USER, PinBytes(t), PinLength(t));
    if (rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) return true;
    if (rv == CKR_PIN_INCORRECT || rv == CKR_PIN_LEN_RANGE)
        error = "PIN incorrect: " + ref.pinFile + " does not hold the user PIN of token \"" +
                t.label + "\" " + Rv(rv);
    else if (rv == CKR_PIN_LOCKED)
        error = "the user PIN of token \"" + t.label + "\" is locked " + Rv(rv);
    else
        error = "cannot log in to token \"" + t.label + "\" " + Rv(rv);
    return false;
}

bool GetAttribute(OpenToken& t, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                  std::string& value) {
    CK_ATTRIBUTE attribute{type, nullptr, 0};
    if (t.f->C_GetAttributeValue(t.session, object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return false;
    value.assign(attribute.ulValueLen, '\0');
    attribute.pValue = value.data();
    if (t.f->C_GetAttributeValue(t.session, object, &attribute, 1) != CKR_OK) return false;
    value.resize(attribute.ulValueLen);
    return true;
}

bool GetBool(OpenToken& t, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, bool& value) {
    std::string bytes;
    if (!GetAttribute(t, object, type, bytes) || bytes.size() != sizeof(CK_BBOOL)) return false;
    value = bytes[0] != CK_FALSE;
    return true;
}

// At most `limit` objects matching the template.
std::vector<CK_OBJECT_HANDLE> Find(OpenToken& t, std::vector<CK_ATTRIBUTE> query, size_t limit,
                                   CK_RV& rv) {
    std::vector<CK_OBJECT_HANDLE> found(limit);
    CK_ULONG count = 0;
    rv = t.f->C_FindObjectsInit(t.session, query.data(), query.size());
    if (rv != CKR_OK) return {};
    rv = t.f->C_FindObjects(t.session, found.data(), limit, &count);
    t.f->C_FindObjectsFinal(t.session);
    found.resize(rv == CKR_OK ? count : 0);
    return found;
}

CK_ATTRIBUTE Attribute(CK_ATTRIBUTE_TYPE type, const void* value, size_t size) {
    return {type, const_cast<void*>(value), static_cast<CK_ULONG>(size)};
}

bool FindPrivateKey(OpenToken& t, P11KitUri* uri, const std::string& shownUri,
                    CK_OBJECT_HANDLE& key, std::string& error) {
    static const CK_OBJECT_CLASS kPrivate = CKO_PRIVATE_KEY;
    std::vector<CK_ATTRIBUTE> query{Attribute(CKA_CLASS, &kPrivate, sizeof(kPrivate))};
    std::string label, id;
    if (UriAttribute(uri, CKA_LABEL, label))
        query.push_back(Attribute(CKA_LABEL, label.data(), label.size()));
    if (UriAttribute(uri, CKA_ID, id)) query.push_back(Attribute(CKA_ID, id.data(), id.size()));
    CK_RV rv = CKR_OK;
    const auto found = Find(t, query, 2, rv);
    if (found.size() != 1) {
        error = (found.empty() ? "no private key on token \"" + t.label + "\" matches "
                               : "more than one private key on token \"" + t.label +
                                     "\" matches (add id= to name one): ") +
                shownUri + (rv == CKR_OK ? "" : " " + Rv(rv));
        return false;
    }
    key = found[0];
    std::string type, params;
    if (!GetAttribute(t, key, CKA_KEY_TYPE, type) || type.size() != sizeof(CK_KEY_TYPE) ||
        *reinterpret_cast<const CK_KEY_TYPE*>(type.data()) != CKK_EC ||
        !GetAttribute(t, key, CKA_EC_PARAMS, params) ||
        params != std::string(reinterpret_cast<const char*>(kP256Params), sizeof(kP256Params))) {
        error = shownUri + " is not a P-256 key, which is what installers verify";
        return false;
    }
    return true;
}

// The public point of a private key: from the public key object with its id (or, without an id,
// its label), or from the private key itself on tokens that keep the point there.
bool PublicHexOf(OpenToken& t, CK_OBJECT_HANDLE privateKey, const std::string& shownUri,
                 std::string& publicHex, std::string& error) {
    static const CK_OBJECT_CLASS kPublic = CKO_PUBLIC_KEY;
    std::string id, label, point;
    std::vector<CK_ATTRIBUTE> query{Attribute(CKA_CLASS, &kPublic, sizeof(kPublic))};
    if (GetAttribute(t, privateKey, CKA_ID, id) && !id.empty())
        query.push_back(Attribute(CKA_ID, id.data(), id.size()));
    else if (GetAttribute(t, privateKey, CKA_LABEL, label) && !label.empty())
        query.push_back(Attribute(CKA_LABEL, label.data(), label.size()));
    CK_RV rv = CKR_OK;
    const auto found = query.size() > 1 ? Find(t, query, 2, rv) : std::vector<CK_OBJECT_HANDLE>();
    const bool read = (found.size() == 1 && GetAttribute(t, found[0], CKA_EC_POINT, point)) ||
                      GetAttribute(t, privateKey, CKA_EC_POINT, point);
    if (!read) {
        error = "token \"" + t.label + "\" has no public key beside " + shownUri +
                " (a public key object with the same id), so its public half cannot be read";
        return false;
    }
    return EcPointToPublicHex(reinterpret_cast<const unsigned char*>(point.data()), point.size(),
                              publicHex, error);
}

bool Digest(std::string_view message, unsigned char digest[32], std::string& error) {
    Sha256Hasher hasher;
    hasher.Open();
    if (!hasher.ready || (!message.empty() && !hasher.Update(message.data(), message.size())) ||
        !hasher.FinishRaw(digest)) {
        error = "SHA-256 failed";
        return false;
    }
    return true;
}

bool Sign(OpenToken& t, CK_OBJECT_HANDLE key, const std::string& shownUri, std::string_view message,
          const std::string& publicHex, std::string& signatureHex, std::string& error) {
    unsigned char digest[32];
    if (!Digest(message, digest, error)) return false;
    bool alwaysAuthenticate = false;
    GetBool(t, key, CKA_ALWAYS_AUTHENTICATE, alwaysAuthenticate);
    CK_MECHANISM mechanism{CKM_ECDSA, nullptr, 0};
    CK_RV rv = t.f->C_SignInit(t.session, &mechanism, key);
    // Keys that want the PIN for every signature (smart card signature keys) get it again.
    if (rv == CKR_OK && alwaysAuthenticate)
        rv = t.f->C_Login(t.session, CKU_CONTEXT_SPECIFIC, PinBytes(t), PinLength(t));
    unsigned char answer[512];
    CK_ULONG length = sizeof(answer);
    if (rv == CKR_OK) rv = t.f->C_Sign(t.session, digest, sizeof(digest), answer, &length);
    if (rv != CKR_OK) {
        error = "token \"" + t.label + "\" did not sign with " + shownUri + " " + Rv(rv);
        return false;
    }
    unsigned char raw[64];
    if (!EcdsaSignatureToRaw(answer, length, raw, error)) return false;
    signatureHex = HexOf(raw, sizeof(raw));
    // The installer's own check must accept what is published.
    if (!VerifyManifestSignature(message, signatureHex, publicHex)) {
        error = "the signature token \"" + t.label + "\" made with " + shownUri +
                " does not verify under the public key beside it";
        return false;
    }
    return true;
}

}  // namespace

// Any value may be a PIN under some name (pin=, x-pin=, a misspelt pin-value), and RFC 7512 lets
// a value hold ':', '?' and '=' unescaped, so no value is judged safe to show.
std::string ShownTokenUri(std::string_view text) {
    text = KeyText(text);
    if (IsTokenUri(text)) text.remove_prefix(7);
    // The path's attributes are split by ';'; the query's, after the first '?', by '&'.
    const size_t query = text.find('?');
    std::string shown = "pkcs11:";
    AppendNames(text.substr(0, query), ';', shown);
    if (query != std::string_view::npos) {
        shown.push_back('?');
        AppendNames(text.substr(query + 1), '&', shown);
    }
    return shown;
}

bool IsTokenUri(std::string_view keyArgument) {
    // A scheme in any case and blanks around it: "PKCS11:...;pin-value=..." or " pkcs11:..."
    // taken as a file name would be printed whole in the error; as a URI it is refused without
    // its PIN.
    const std::string_view scheme = KeyText(keyArgument).substr(0, 7);
    std::string lower(scheme);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower == "pkcs11:";
}

bool ReadPinFile(const std::string& path, std::string& pin, std::string& error) {
    // Read straight into `pin` and trimmed in place: no second string ever holds the PIN.
    if (!ReadSecretFile(path, pin, error)) {
        error = "PIN file: " + error;
        return false;
    }
    if (!pin.empty() && pin.back() == '\n') pin.pop_back();
    if (!pin.empty() && pin.back() == '\r') pin.pop_back();
    if (pin.empty()) {
        error = "the PIN file " + path + " is empty";
        return false;
    }
    return true;
}

bool EcdsaSignatureToRaw(const unsigned char* signature, size_t length, unsigned char raw[64],
                         std::string& error) {
    if (length == 64) {
        std::memcpy(raw, signature, 64);
        return true;
    }
    const unsigned char* cursor = signature;
    EcdsaSigHandle parsed(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(length)));
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    if (parsed) ECDSA_SIG_get0(parsed.get(), &r, &s);
    if (!parsed || cursor != signature + length || BN_is_negative(r) || BN_is_negative(s) ||
        BN_bn2binpad(r, raw, 32) != 32 || BN_bn2binpad(s, raw + 32, 32) != 32) {
        error = "the token answered a signature of " + std::to_string(length) +
                " bytes that is neither r || s nor DER";
        return false;
    }
    return true;
}

bool EcPointToPublicHex(const unsigned char* point, size_t length, std::string& publicHex,
                        std::string& error) {
    // The DER OCTET STRING of 65 bytes is 04 41 and the point; the bare point is 65 bytes.
    if (length == 67 && point[0] == 0x04 && point[1] == 0x41) {
        point += 2;
        length -= 2;
    }
    if (length != 65 || point[0] != 0x04) {
        error = "the token's public point is not an uncompressed P-256 point (" +
                std::to_string(length) + " bytes)";
        return false;
    }
    publicHex = HexOf(point + 1, 64);
    return true;
}

bool TokenPublicKeyHex(const TokenKeyRef& key, std::string& publicHex, std::string& error) {
    UriHandle uri;
    OpenToken t;
    ScopeExit wipe([&t] { WipePin(t); });
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    const std::string shown = ShownTokenUri(key.uri);
    return ParseKeyUri(key.uri, uri, error) && Open(key, uri.get(), false, t, error) &&
           FindPrivateKey(t, uri.get(), shown, object, error) &&
           PublicHexOf(t, object, shown, publicHex, error);
}

bool TokenSignManifestText(const TokenKeyRef& key, std::string_view message,
                           std::string& signatureHex, std::string& error) {
    UriHandle uri;
    OpenToken t;
    ScopeExit wipe([&t] { WipePin(t); });
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    std::string publicHex;
    const std::string shown = ShownTokenUri(key.uri);
    return ParseKeyUri(key.uri, uri, error) && Open(key, uri.get(), false, t, error) &&
           FindPrivateKey(t, uri.get(), shown, object, error) &&
           PublicHexOf(t, object, shown, publicHex, error) &&
           Sign(t, object, shown, message, publicHex, signatureHex, error);
}

bool GenerateTokenKey(const TokenKeyRef& key,
                      const std::function<bool(const std::string&, std::string&)>& keep,
                      std::string& publicHex, std::string& error) {
    UriHandle uri;
    OpenToken t;
    ScopeExit wipe([&t] { WipePin(t); });
    if (!ParseKeyUri(key.uri, uri, error)) return false;
    std::string label, id;
    if (!UriAttribute(uri.get(), CKA_LABEL, label) || label.empty()) {
        error = "keygen needs the new key's label as object=<label> in the URI: " +
                ShownTokenUri(key.uri);
        return false;
    }
    if (!UriAttribute(uri.get(), CKA_ID, id)) {
        // Most tools pair a private key with its public key and certificate by id.
        id.assign(16, '\0');
        if (RAND_bytes(reinterpret_cast<unsigned char*>(id.data()), 16) != 1) {
            error = "no random id for the new key";
            return false;
        }
    }
    if (!Open(key, uri.get(), true, t, error)) return false;
    CK_RV rv = CKR_OK;
    if (!Find(t, {Attribute(CKA_LABEL, label.data(), label.size())}, 1, rv).empty() ||
        !Find(t, {Attribute(CKA_ID, id.data(), id.size())}, 1, rv).empty()) {
        error = "token \"" + t.label + "\" already holds an object labelled \"" + label +
                "\" or with that id; keygen never replaces one (use that key as it is, or "
                "choose another object=)";
        return false;
    }
    CK_MECHANISM_INFO mechanismInfo{};
    rv = t.f->C_GetMechanismInfo(t.slot, CKM_EC_KEY_PAIR_GEN, &mechanismInfo);
    if (rv != CKR_OK || !(mechanismInfo.flags & CKF_GENERATE_KEY_PAIR)) {
        error = "token \"" + t.label + "\" cannot make EC key pairs " + Rv(rv) +
                ": make the key with the token's own tool and give its URI to sign and publish";
        return false;
    }

    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    const CK_KEY_TYPE ec = CKK_EC;
    std::vector<CK_ATTRIBUTE> publicTemplate{
        Attribute(CKA_KEY_TYPE, &ec, sizeof(ec)),
        Attribute(CKA_TOKEN, &yes, sizeof(yes)),
        Attribute(CKA_PRIVATE, &no, sizeof(no)),
        Attribute(CKA_VERIFY, &yes, sizeof(yes)),
        Attribute(CKA_EC_PARAMS, kP256Params, sizeof(kP256Params)),
        Attribute(CKA_LABEL, label.data(), label.size()),
        Attribute(CKA_ID, id.data(), id.size()),
    };
    std::vector<CK_ATTRIBUTE> privateTemplate{
        Attribute(CKA_KEY_TYPE, &ec, sizeof(ec)),
        Attribute(CKA_TOKEN, &yes, sizeof(yes)),
        Attribute(CKA_PRIVATE, &yes, sizeof(yes)),
        Attribute(CKA_SENSITIVE, &yes, sizeof(yes)),
        Attribute(CKA_EXTRACTABLE, &no, sizeof(no)),
        Attribute(CKA_SIGN, &yes, sizeof(yes)),
        Attribute(CKA_DERIVE, &no, sizeof(no)),
        Attribute(CKA_LABEL, label.data(), label.size()),
        Attribute(CKA_ID, id.data(), id.size()),
    };
    CK_MECHANISM mechanism{CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE, privateKey = CK_INVALID_HANDLE;
    rv = t.f->C_GenerateKeyPair(t.session, &mechanism, publicTemplate.data(), publicTemplate.size(),
                                privateTemplate.data(), privateTemplate.size(), &publicKey,
                                &privateKey);
    if (rv != CKR_OK) {
        error = "token \"" + t.label + "\" did not make the key pair " + Rv(rv);
        return false;
    }
    ScopeExit destroy([&] {
        t.f->C_DestroyObject(t.session, privateKey);
        t.f->C_DestroyObject(t.session, publicKey);
    });
    // A token may ignore a template it does not like; a key that could leave it is no use here.
    bool sensitive = false, extractable = true;
    if (!GetBool(t, privateKey, CKA_SENSITIVE, sensitive) ||
        !GetBool(t, privateKey, CKA_EXTRACTABLE, extractable) || !sensitive || extractable) {
        error = "token \"" + t.label + "\" did not make the new key sensitive and unextractable";
        return false;
    }
    std::string probe;
    const std::string shown = ShownTokenUri(key.uri);
    if (!PublicHexOf(t, privateKey, shown, publicHex, error) ||
        !Sign(t, privateKey, shown, "varnok-publish keygen", publicHex, probe, error) ||
        !keep(publicHex, error))
        return false;
    destroy.dismiss();
    return true;
}
