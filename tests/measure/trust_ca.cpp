// Adds a test CA certificate (DER file) to the machine's Root store of the
// test prefix, so that WinINet trusts a loopback TLS server it signed; run
// by the query tests. No certificate check is switched off.
//   trust_ca.exe <certificate.der>    exit code 0 when it is in the store
#include <windows.h>
#include <wincrypt.h>

#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::ifstream file(argv[1], std::ios::binary);
  std::vector<BYTE> der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  bool added = root && !der.empty() &&
               CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  if (root) CertCloseStore(root, 0);
  return added ? 0 : 1;
}
