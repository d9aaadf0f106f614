// Certificates through OpenSSL's library: keys, X.509 certificates and their extensions.
#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/os_error.h"
#include "platform/socket.h"
#include "platform/tls.h"
#include "platform/tls_certificates.h"

namespace vantry {

namespace {

struct Free {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(X509* certificate) const { X509_free(certificate); }
  void operator()(BIO* bio) const { BIO_free(bio); }
  void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
  void operator()(BIGNUM* number) const { BN_free(number); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Certificate = std::unique_ptr<X509, Free>;
using Bio = std::unique_ptr<BIO, Free>;

[[noreturn]] void RaiseLibraryError(const char* what) {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
  throw ETlsError(Format("Cannot make the %s: %s", what, reason != nullptr ? reason : "unknown"));
}

void Check(int result, const char* what) {
  if (result <= 0) RaiseLibraryError(what);
}

Key NewKey() {
  Key key(EVP_EC_gen("P-256"));
  if (!key) RaiseLibraryError("key");
  return key;
}

// Writes `text` to `path`, replacing it, with `mode` also when the file existed.
void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
  int fd = RetryOnEintr(
      [&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode); });
  if (fd < 0) RaiseErrno(errno, OsOperation::kOther, path);
  auto fail = [&] {
    int error = errno;
    ::close(fd);
    RaiseErrno(error, OsOperation::kOther, path);
  };
  if (::fchmod(fd, mode) != 0) fail();
  for (size_t done = 0; done < text.size();) {
    ssize_t n = RetryOnEintr([&] { return ::write(fd, text.data() + done, text.size() - done); });
    if (n < 0) fail();
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) RaiseErrno(errno, OsOperation::kOther, path);
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<size_t>(n));
}

void WriteKey(const std::string& path, EVP_PKEY* key) {
  Bio bio(BIO_new(BIO_s_mem()));
  Check(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr),
        "key file");
  WriteFile(path, BioText(bio.get()), 0600);
}

void WriteCertificate(const std::string& path, X509* certificate) {
  Bio bio(BIO_new(BIO_s_mem()));
  Check(PEM_write_bio_X509(bio.get(), certificate), "certificate file");
  WriteFile(path, BioText(bio.get()), 0644);
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, certificate, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, Free> extension(
      X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
  if (!extension) RaiseLibraryError("certificate extension");
  Check(X509_add_ext(certificate, extension.get(), -1), "certificate extension");
}

// A certificate for `key` with subject CN `name`, not yet signed, with a random serial.
Certificate NewCertificate(EVP_PKEY* key, const std::string& name, CertificateValidity validity) {
  Certificate certificate(X509_new());
  if (!certificate) RaiseLibraryError("certificate");
  Check(X509_set_version(certificate.get(), 2), "certificate");
  std::unique_ptr<BIGNUM, Free> serial(BN_new());
  Check(BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), "serial number");
  Check(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get())) != nullptr,
        "serial number");
  Check(X509_gmtime_adj(X509_getm_notBefore(certificate.get()), validity.start) != nullptr,
        "validity");
  Check(X509_gmtime_adj(X509_getm_notAfter(certificate.get()),
                        validity.start + validity.lifetime) != nullptr,
        "validity");
  Check(X509_set_pubkey(certificate.get(), key), "certificate");
  X509_NAME* subject = X509_get_subject_name(certificate.get());
  Check(X509_NAME_add_entry_by_NID(subject, NID_commonName, MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0),
        "certificate name");
  return certificate;
}

template <typename T, typename Read>
std::unique_ptr<T, Free> ReadPem(const std::string& path, Read read) {
  Bio bio(BIO_new_file(path.c_str(), "r"));
  T* value = bio ? read(bio.get(), nullptr, nullptr, nullptr) : nullptr;
  if (value == nullptr) {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    throw ETlsError(
        Format("Cannot load TLS CA \"%s\": %s", path, reason != nullptr ? reason : "unknown"));
  }
  return std::unique_ptr<T, Free>(value);
}

}  // namespace

void MakeCertificateAuthority(const std::string& cert_file, const std::string& key_file,
                              const std::string& name, CertificateValidity validity) {
  ERR_clear_error();
  Key key = NewKey();
  Certificate certificate = NewCertificate(key.get(), name, validity);
  Check(X509_set_issuer_name(certificate.get(), X509_get_subject_name(certificate.get())),
        "certificate");
  AddExtension(certificate.get(), certificate.get(), NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(certificate.get(), certificate.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(certificate.get(), certificate.get(), NID_subject_key_identifier, "hash");
  Check(X509_sign(certificate.get(), key.get(), EVP_sha256()), "CA signature");
  WriteKey(key_file, key.get());
  WriteCertificate(cert_file, certificate.get());
}

void IssueCertificate(const std::string& ca_cert_file, const std::string& ca_key_file,
                      const std::string& cert_file, const std::string& key_file,
                      const std::string& name, const std::vector<std::string>& alt_names,
                      CertificateValidity validity) {
  ERR_clear_error();
  Certificate ca = ReadPem<X509>(ca_cert_file, PEM_read_bio_X509);
  Key ca_key = ReadPem<EVP_PKEY>(ca_key_file, PEM_read_bio_PrivateKey);
  Key key = NewKey();
  Certificate certificate = NewCertificate(key.get(), name, validity);
  Check(X509_set_issuer_name(certificate.get(), X509_get_subject_name(ca.get())), "certificate");
  AddExtension(certificate.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(certificate.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
  // The service presents its certificate as a server and, when it sends backups, as a client.
  AddExtension(certificate.get(), ca.get(), NID_ext_key_usage, "serverAuth,clientAuth");
  AddExtension(certificate.get(), ca.get(), NID_subject_key_identifier, "hash");
  AddExtension(certificate.get(), ca.get(), NID_authority_key_identifier, "keyid");
  std::string alt;
  for (const std::string& alt_name : alt_names) {
    alt +=
        (alt.empty() ? "" : ",") + std::string(IsDottedIPv4(alt_name) ? "IP:" : "DNS:") + alt_name;
  }
  if (!alt.empty()) AddExtension(certificate.get(), ca.get(), NID_subject_alt_name, alt);
  Check(X509_sign(certificate.get(), ca_key.get(), EVP_sha256()), "certificate signature");
  WriteKey(key_file, key.get());
  WriteCertificate(cert_file, certificate.get());
}

}  // namespace vantry
