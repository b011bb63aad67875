// Adds a test CA certificate (DER file) to the machine's Root store of the
// test prefix, so that WinINet trusts a loopback TLS server it signed; run
// once per prefix by the query tests. No certificate check is switched off.
//   trust_ca.exe <certificate.der>
// Exit code 0 when the certificate is in the store.
#include <windows.h>
#include <wincrypt.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

struct StoreCloser {
  void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::ifstream file(argv[1], std::ios::binary);
  std::vector<BYTE> der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (der.empty()) return 3;
  Store root(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
  if (!root) return 4;
  if (!CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING, der.data(),
                                        static_cast<DWORD>(der.size()),
                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
    return 5;
  return 0;
}
