// Writes the signed test vectors for the given private key to standard output.
#include <iostream>

#include "tests/tools/signature_vectors_gen.h"
#include "tools/key_files.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: varnok-make-signature-vectors <private.pem>\n";
        return 2;
    }
    std::string pem, error;
    if (!ReadWholeFile(argv[1], pem, error)) {
        std::cerr << error << "\n";
        return 1;
    }
    const std::string text = MakeSignatureVectorsFile(pem, error);
    if (text.empty()) {
        std::cerr << error << "\n";
        return 1;
    }
    std::cout << text;
    return std::cout.good() ? 0 : 1;
}
