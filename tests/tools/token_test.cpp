// Token keys against a real PKCS#11 implementation: SoftHSM2, with a token made for each test in
// its own scratch folder (its own configuration; the machine's tokens are never seen).
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include <p11-kit/p11-kit.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "manifest/sha256.h"
#include "tests/support/scratch.h"
#include "tests/tools/tool_support.h"
#include "tools/bytes.h"
#include "tools/keys.h"
#include "tools/token.h"

namespace fs = std::filesystem;

namespace {

constexpr char kPin[] = "7f3Qx9";
constexpr char kUriBase[] = "pkcs11:token=Varnok%20Release;object=";

// One more token labelled "Varnok Release" with user PIN kPin, in the SoftHSM2 set-up in use.
void AddToken() {
    const std::string init =
        "softhsm2-util --init-token --free --label 'Varnok Release' "
        "--so-pin 9876 --pin " +
        std::string(kPin) + " >/dev/null";
    ASSERT_EQ(std::system(init.c_str()), 0);
}

// A PIN file as the publisher keeps it: readable by its owner alone.
void WritePinFile(const fs::path& path, const std::string& text) {
    WriteFileBytes(path, text);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

// A fresh token labelled "Varnok Release" with user PIN kPin in `dir`, and the PIN file beside.
void MakeToken(const ScratchDir& dir) {
    ASSERT_TRUE(fs::exists(VARNOK_SOFTHSM_MODULE)) << "SoftHSM2 is missing: run scripts/setup-deps";
    fs::create_directories(dir / "tokens");
    WriteFileBytes(dir / "softhsm2.conf", "directories.tokendir = " + (dir / "tokens").string() +
                                              "\nobjectstore.backend = file\nlog.level = ERROR\n");
    setenv("SOFTHSM2_CONF", (dir / "softhsm2.conf").c_str(), 1);
    AddToken();
    WritePinFile(dir / "pin", std::string(kPin) + "\n");
}

TokenKeyRef Key(const ScratchDir& dir, const std::string& object) {
    return {kUriBase + object, VARNOK_SOFTHSM_MODULE, (dir / "pin").string()};
}

std::string Options(const ScratchDir& dir) {
    return std::string(" --pkcs11-module '") + VARNOK_SOFTHSM_MODULE + "' --pin-file " +
           Quote(dir / "pin");
}

// What the token answers about one attribute of the private key labelled `object`, read
// straight through the module as any program on the machine could ask.
struct AttributeAnswer {
    CK_RV rv;
    std::string value;
};

std::vector<AttributeAnswer> AskPrivateKey(const std::string& object,
                                           const std::vector<CK_ATTRIBUTE_TYPE>& types) {
    CK_FUNCTION_LIST* f = p11_kit_module_load(VARNOK_SOFTHSM_MODULE, 0);
    if (!f || p11_kit_module_initialize(f) != CKR_OK) return {};
    std::vector<AttributeAnswer> answers;
    CK_SLOT_ID slots[4];
    CK_ULONG count = 4;
    CK_SESSION_HANDLE session = 0;
    const std::string pin = kPin;
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE query[] = {{CKA_CLASS, &privateClass, sizeof(privateClass)},
                            {CKA_LABEL, const_cast<char*>(object.data()), object.size()}};
    CK_OBJECT_HANDLE key = 0;
    CK_ULONG found = 0;
    if (f->C_GetSlotList(CK_TRUE, slots, &count) == CKR_OK && count > 0 &&
        f->C_OpenSession(slots[0], CKF_SERIAL_SESSION, nullptr, nullptr, &session) == CKR_OK &&
        f->C_Login(session, CKU_USER, (CK_UTF8CHAR*)pin.data(), pin.size()) == CKR_OK &&
        f->C_FindObjectsInit(session, query, 2) == CKR_OK &&
        f->C_FindObjects(session, &key, 1, &found) == CKR_OK &&
        f->C_FindObjectsFinal(session) == CKR_OK && found == 1) {
        for (const CK_ATTRIBUTE_TYPE type : types) {
            std::string value(256, '\0');
            CK_ATTRIBUTE attribute{type, value.data(), value.size()};
            const CK_RV rv = f->C_GetAttributeValue(session, key, &attribute, 1);
            value.resize(rv == CKR_OK ? attribute.ulValueLen : 0);
            answers.push_back({rv, value});
        }
    }
    p11_kit_module_finalize(f);
    p11_kit_module_release(f);
    return answers;
}

std::string DerSignature(const std::string& r, const std::string& s) {
    BIGNUM* rn = nullptr;
    BIGNUM* sn = nullptr;
    BN_hex2bn(&rn, r.c_str());
    BN_hex2bn(&sn, s.c_str());
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, rn, sn);
    unsigned char der[80];
    unsigned char* end = der;
    const int length = i2d_ECDSA_SIG(sig, &end);
    ECDSA_SIG_free(sig);
    return std::string(reinterpret_cast<char*>(der), length);
}

}  // namespace

TEST(TokenSignatures, RawAndDerAnswersBecomeRThenSAndAnythingElseIsRefused) {
    const std::string r(64, 'a'), s = "81" + std::string(62, '2');  // s needs a DER sign byte
    const struct {
        const char* what;
        std::string answer;
        std::string raw;  // empty: refused
    } cases[] = {
        {"raw r || s", std::string(64, '\x11'), std::string(128, '1')},
        {"DER, s with a sign byte", DerSignature(r, s), r + s},
        {"DER, short r padded on the left", DerSignature("7f", s), std::string(62, '0') + "7f" + s},
        {"DER with a byte after it", DerSignature(r, s) + "x", ""},
        {"DER, r of 33 significant bytes", DerSignature("01" + r, s), ""},
        {"DER, s = -1", "\x30\x25\x02\x20" + std::string(32, '\x2a') + "\x02\x01\xff", ""},
        {"63 bytes", std::string(63, '\x11'), ""},
        {"nothing", std::string(), ""},
    };
    for (const auto& c : cases) {
        unsigned char raw[64];
        std::string error;
        const bool converted = EcdsaSignatureToRaw(
            reinterpret_cast<const unsigned char*>(c.answer.data()), c.answer.size(), raw, error);
        EXPECT_EQ(converted, !c.raw.empty()) << c.what << ": " << error;
        if (converted) {
            EXPECT_EQ(HexOf(raw, 64), c.raw) << c.what;
        } else {
            EXPECT_NE(error.find("neither"), std::string::npos) << c.what;
        }
    }
}

TEST(TokenPublicPoint, DerAndBarePointsGiveTheHexOthersAreRefused) {
    const std::string point = "\x04" + std::string(32, '\xab') + std::string(32, '\xcd');
    std::string hex;
    for (int i = 0; i < 32; ++i) hex += "ab";
    for (int i = 0; i < 32; ++i) hex += "cd";
    const struct {
        const char* what;
        std::string bytes;
        bool accepted;
    } cases[] = {
        {"DER OCTET STRING", "\x04\x41" + point, true},
        {"bare point", point, true},
        {"compressed point", "\x02" + std::string(32, '\xab'), false},
        {"DER around a compressed point", "\x04\x21\x02" + std::string(32, '\xab'), false},
        {"wrong tag", "\x03\x41" + point, false},
        {"DER with a wrong length byte", "\x04\x42" + point, false},
        {"a byte short", point.substr(0, 64), false},
        {"hybrid form", "\x06" + point.substr(1), false},
    };
    for (const auto& c : cases) {
        std::string got, error;
        EXPECT_EQ(EcPointToPublicHex(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                                     c.bytes.size(), got, error),
                  c.accepted)
            << c.what << ": " << error;
        if (c.accepted) {
            EXPECT_EQ(got, hex) << c.what;
        }
    }
}

TEST(TokenPin, OnlyAPrivateRegularFileGivesThePinAndOneTrailingNewlineIsNotPartOfIt) {
    enum Kind { kFile, kOthers, kMissing, kFifo, kGrowing };
    constexpr char kEarlier[] = "an earlier PIN, 5e81c0d9";  // too long to be held inline
    const struct {
        std::string text;
        mode_t mode;
        Kind kind;
        const char* pin;  // nullptr: refused
        const char* says;
    } cases[] = {
        {"0142\n", 0600, kFile, "0142", ""},
        {"0142", 0600, kFile, "0142", ""},
        {"0142\r\n", 0600, kFile, "0142", ""},
        {"01 42\n\n", 0600, kFile, "01 42\n", ""},
        {"\n", 0600, kFile, nullptr, "is empty"},
        {"", 0600, kFile, nullptr, "is empty"},
        {"", 0600, kMissing, nullptr, "No such file"},
        {"0142\n", 0640, kFile, nullptr, "chmod 600 "},
        {"0142\n", 0604, kFile, nullptr, "chmod 600 "},
        {"0142\n", 0620, kFile, nullptr, "chmod go-w "},
        {"0142\n", 0602, kFile, nullptr, "chmod go-w "},
        {"0142\n", 0600, kOthers, nullptr, "chown "},
        {"", 0600, kFifo, nullptr, "not a regular file"},
        // procfs gives the size as 0 and then reads out more.
        {"", 0400, kGrowing, nullptr, "grew while it was read"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        std::string path = (dir / "pin").string();
        if (c.kind == kFile || c.kind == kOthers) {
            WriteFileBytes(path, c.text);
            ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        }
        if (c.kind == kOthers) {
            // As root the file is given to nobody; anyone else is shown a file root owns.
            if (geteuid() == 0)
                ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
            else
                path = "/etc/passwd";
        } else if (c.kind == kFifo) {
            ASSERT_EQ(mkfifo(path.c_str(), c.mode), 0);
        } else if (c.kind == kGrowing) {
            path = "/proc/self/environ";
        }
        std::string pin = kEarlier, error;
        // An open that waits for a FIFO's writer gives up (EINTR) when the alarm rings.
        struct sigaction ring {
        }, before{};
        ring.sa_handler = [](int) {};
        sigaction(SIGALRM, &ring, &before);
        alarm(3);
        const bool read = ReadPinFile(path, pin, error);
        alarm(0);
        sigaction(SIGALRM, &before, nullptr);
        EXPECT_EQ(read, c.pin != nullptr) << path << ": " << error;
        if (c.pin) {
            EXPECT_EQ(pin, c.pin);
        } else {
            EXPECT_NE(error.find(path), std::string::npos) << error;
            EXPECT_NE(error.find(c.says), std::string::npos) << error;
            EXPECT_TRUE(pin.empty()) << path;
        }
        EXPECT_EQ(std::string(pin.data(), pin.capacity()).find("5e81c0d9"), std::string::npos)
            << path << ": the earlier PIN is still in the buffer";
    }
}

TEST(TokenKeys, KeygenMakesAKeyThatSignsForItsPublicHalfAndNeverLeavesTheToken) {
    ScratchDir dir;
    MakeToken(dir);
    const ToolRun made = RunTool(dir, "keygen --out '" + std::string(kUriBase) + "manifest-2027'" +
                                          Options(dir) + " --pub " + Quote(dir / "m.hex"));
    ASSERT_EQ(made.exitCode, 0) << made.err;
    ASSERT_EQ(made.out.size(), 129u);
    EXPECT_EQ(ReadFileBytes(dir / "m.hex"), made.out);
    const std::string publicHex = made.out.substr(0, 128);

    const auto answers =
        AskPrivateKey("manifest-2027", {CKA_VALUE, CKA_EXTRACTABLE, CKA_SENSITIVE, CKA_TOKEN});
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[0].rv, static_cast<CK_RV>(CKR_ATTRIBUTE_SENSITIVE)) << "CKA_VALUE was read";
    EXPECT_EQ(answers[1].value, std::string(1, CK_FALSE)) << "CKA_EXTRACTABLE";
    EXPECT_EQ(answers[2].value, std::string(1, CK_TRUE)) << "CKA_SENSITIVE";
    EXPECT_EQ(answers[3].value, std::string(1, CK_TRUE)) << "CKA_TOKEN";

    std::string hex, signature, again, error;
    ASSERT_TRUE(TokenPublicKeyHex(Key(dir, "manifest-2027"), hex, error)) << error;
    EXPECT_EQ(hex, publicHex);
    ASSERT_TRUE(TokenSignManifestText(Key(dir, "manifest-2027"), "hello", signature, error))
        << error;
    ASSERT_TRUE(TokenSignManifestText(Key(dir, "manifest-2027"), "hello", again, error)) << error;
    EXPECT_TRUE(VerifyManifestSignature("hello", signature, publicHex));
    EXPECT_TRUE(VerifyManifestSignature("hello", again, publicHex));
    EXPECT_FALSE(VerifyManifestSignature("hellO", signature, publicHex));

    // The label is taken now: keygen leaves the token and the --pub file alone.
    const ToolRun twice = RunTool(dir, "keygen --out '" + std::string(kUriBase) + "manifest-2027'" +
                                           Options(dir) + " --pub " + Quote(dir / "again.hex"));
    EXPECT_NE(twice.exitCode, 0);
    EXPECT_NE(twice.err.find("already holds an object labelled \"manifest-2027\""),
              std::string::npos)
        << twice.err;
    EXPECT_FALSE(fs::exists(dir / "again.hex"));
    ASSERT_TRUE(TokenPublicKeyHex(Key(dir, "manifest-2027"), hex, error)) << error;
    EXPECT_EQ(hex, publicHex);

    // A pair whose public half cannot be kept is taken out of the token again.
    auto refuse = [](const std::string&, std::string& keepError) {
        keepError = "not kept on purpose";
        return false;
    };
    EXPECT_FALSE(GenerateTokenKey(Key(dir, "unkept"), refuse, hex, error));
    EXPECT_EQ(error, "not kept on purpose");
    EXPECT_FALSE(TokenPublicKeyHex(Key(dir, "unkept"), hex, error));
    EXPECT_NE(error.find("no private key"), std::string::npos) << error;
}

TEST(TokenKeys, EachVerbRefusesWhatIsWrongNamingItAndWritesNothing) {
    ScratchDir dir;
    MakeToken(dir);
    std::string publicHex, error;
    ASSERT_TRUE(GenerateTokenKey(
        Key(dir, "m"), [](const std::string&, std::string&) { return true; }, publicHex, error))
        << error;
    WritePinFile(dir / "wrong-pin", "9999\n");
    WriteFileBytes(dir / "c.exe", "MZ client");
    WriteFileBytes(dir / "m.json", LauncherManifest(std::to_string(UnixNow())));
    const std::string module = std::string(" --pkcs11-module '") + VARNOK_SOFTHSM_MODULE + "'";
    const std::string pin = " --pin-file " + Quote(dir / "pin");
    const struct {
        const char* what;
        std::string key;      // the URI, quoted
        std::string options;  // module and PIN
        std::string says;
        bool keygenToo;  // keygen makes what is not there yet
    } cases[] = {
        {"wrong PIN", "'" + std::string(kUriBase) + "m'",
         module + " --pin-file " + Quote(dir / "wrong-pin"),
         "PIN incorrect: " + (dir / "wrong-pin").string(), true},
        {"no such object", "'" + std::string(kUriBase) + "nothing-here'", module + pin,
         "no private key on token \"Varnok Release\" matches pkcs11:token=...;object=...", false},
        {"no such token", "'pkcs11:token=Lost;object=m'", module + pin,
         "no token matches pkcs11:token=...;object=... (tokens of", true},
        {"no such token, an unknown query attribute", "'pkcs11:token=Lost;object=m?x-pin=7f3Qx9'",
         module + pin, "no token matches pkcs11:token=...;object=...?x-pin=... (", true},
        {"no module there", "'" + std::string(kUriBase) + "m'",
         " --pkcs11-module " + Quote(dir / "gone.so") + pin,
         "cannot load the PKCS#11 module " + (dir / "gone.so").string(), true},
        {"no module given", "'" + std::string(kUriBase) + "m'", pin, "--pkcs11-module", true},
        {"no PIN file", "'" + std::string(kUriBase) + "m'",
         module + " --pin-file " + Quote(dir / "no-pin"), (dir / "no-pin").string(), true},
        {"PIN in the URI", "'" + std::string(kUriBase) + "m;pin-value=" + std::string(kPin) + "'",
         module + pin, "give it with --pin-file", true},
        {"PIN source in the URI", "'" + std::string(kUriBase) + "m?pin-source=file:pin'",
         module + pin, "give it with --pin-file", true},
        {"not a URI", "'pkcs11:token=%zz;object=m'", module + pin, "not a PKCS#11 URI", true},
        {"not a URI, with a PIN", "'pkcs11:token=%zz;object=m?pin-value=" + std::string(kPin) + "'",
         module + pin, "not a PKCS#11 URI", true},
        {"not a URI, the PIN's name in capitals",
         "'pkcs11:token=%zz;object=m;PIN-VALUE=" + std::string(kPin) + "'", module + pin,
         "not a PKCS#11 URI", true},
        {"not a URI, the PIN's name percent-escaped",
         "'pkcs11:token=%zz;object=m;pin%2Dvalue=" + std::string(kPin) + "'", module + pin,
         "not a PKCS#11 URI", true},
        {"PIN in the URI, before it a key argument's space",
         "' " + std::string(kUriBase) + "m;pin-value=7f3Qx9'", module + pin,
         "give it with --pin-file", true},
        {"not a URI, with a PIN whose name has a space before it",
         "'pkcs11:token=%zz;object=m; pin-value=7f3Qx9'", module + pin,
         "pkcs11:token=...;object=...;...", true},
        {"not a URI, with a PIN holding a colon", "'pkcs11:token=%zz;object=m?pin-value=7f3:Qx9'",
         module + pin, "pkcs11:token=...;object=...?pin-value=...", true},
        {"not a URI, with a PIN holding a question mark",
         "'pkcs11:token=%zz;object=m?pin-value=7f3?Qx9'", module + pin, "not a PKCS#11 URI", true},
        {"PIN as pin=", "'" + std::string(kUriBase) + "m;pin=7f3Qx9'", module + pin,
         "the URI has attributes other than a token's and an object's (give the module with "
         "--pkcs11-module): pkcs11:token=...;object=...;pin=...",
         true},
        {"PIN as pin_value=", "'" + std::string(kUriBase) + "m;pin_value=7f3Qx9'", module + pin,
         "other than a token's and an object's", true},
        {"PIN as pinvalue=", "'" + std::string(kUriBase) + "m;pinvalue=7f3Qx9'", module + pin,
         "other than a token's and an object's", true},
        {"PIN as x-pin=", "'" + std::string(kUriBase) + "m;x-pin=7f3Qx9'", module + pin,
         "other than a token's and an object's", true},
        {"PIN in a URI whose scheme is in capitals",
         "'PKCS11:token=Lost;object=m;pin-value=" + std::string(kPin) + "'", module + pin,
         "give it with --pin-file", true},
        {"no PIN file given for a token without a PIN pad", "'" + std::string(kUriBase) + "m'",
         module, "needs its user PIN: give it with --pin-file", true},
    };
    for (const auto& c : cases) {
        const std::string runs[] = {
            "keygen --out " + c.key + c.options + " --pub " + Quote(dir / "new.hex"),
            "sign --key " + c.key + c.options + " --in " + Quote(dir / "m.json") + " --out " +
                Quote(dir / "e.json"),
            "publish --key " + c.key + c.options + " --exe " + Quote(dir / "c.exe") +
                " --version 1 --build 1 --out " + Quote(dir / "tree"),
        };
        for (const std::string& arguments : runs) {
            if (!c.keygenToo && arguments.rfind("keygen", 0) == 0) continue;
            const ToolRun run = RunTool(dir, arguments);
            EXPECT_NE(run.exitCode, 0) << c.what << ": " << arguments;
            EXPECT_NE(run.err.find(c.says), std::string::npos)
                << c.what << ": " << arguments << "\n"
                << run.err;
            for (const char* part : {"7f3", "Qx9"})  // kPin's halves
                EXPECT_EQ(run.err.find(part), std::string::npos) << c.what << ": the PIN was shown";
            EXPECT_EQ(run.out, "") << c.what;
        }
        EXPECT_FALSE(fs::exists(dir / "new.hex")) << c.what;
        EXPECT_FALSE(fs::exists(dir / "e.json")) << c.what;
        EXPECT_FALSE(fs::exists(dir / "tree")) << c.what;
    }
    // A second token with the same label: which one holds the key is never guessed.
    AddToken();
    EXPECT_FALSE(TokenPublicKeyHex(Key(dir, "m"), publicHex, error));
    EXPECT_NE(error.find("more than one token matches pkcs11:token=...;object=... ("),
              std::string::npos)
        << error;
}
