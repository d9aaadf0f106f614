// The certificates of the service's own small CA, made through the TLS library (no external
// program): a CA, and certificates it signs for servers and operators. Everything is PEM; keys
// are EC P-256, written readable by their owner only (0600).
//
// Thread safety: plain functions; each writes only the files it is given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantry {

// Validity of a new certificate, in seconds relative to now: it is valid from now + `start`
// for `lifetime` seconds. A start in the past lets tests make certificates that have expired.
struct CertificateValidity {
  int64_t start = -3600;  // an hour back: clocks of two machines rarely agree to the second
  int64_t lifetime = int64_t{10} * 365 * 24 * 3600;
};

// Makes a self-signed CA with subject CN `name` into `cert_file` and `key_file`. Throws
// EOSError when a file cannot be written, ETlsError when the library fails.
void MakeCertificateAuthority(const std::string& cert_file, const std::string& key_file,
                              const std::string& name, CertificateValidity validity = {});

// Makes a key and a certificate with subject CN `name`, signed by the CA in `ca_cert_file` /
// `ca_key_file`, good for TLS servers and clients alike; `alt_names` become its alternative
// names (dotted IPv4 addresses as IP names, anything else as DNS names). Throws ETlsError
// "Cannot load TLS CA \"%s\": %s" when the CA cannot be read, EOSError when a file cannot be
// written.
void IssueCertificate(const std::string& ca_cert_file, const std::string& ca_key_file,
                      const std::string& cert_file, const std::string& key_file,
                      const std::string& name, const std::vector<std::string>& alt_names,
                      CertificateValidity validity = {});

}  // namespace vantry
