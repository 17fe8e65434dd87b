// tests/ip_certificates.h - a test certificate authority made with openssl at test time, for
// the TLS and HTTPS tests of delivery over IP (unit and end-to-end alike; header only).
//
// Makes, in a folder of its own that goes with the object: a CA, a server certificate it
// signed for 127.0.0.1 and localhost, one it signed for another name only, and a second,
// unrelated CA that trusts none of them.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace iptest {

class TestCa {
 public:
  TestCa() {
    char pattern[] = "/tmp/corvel-ca-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return;
    dir_ = pattern;
    CaFile = dir_ + "/ca.pem";
    CertFile = dir_ + "/server.pem";
    KeyFile = dir_ + "/server.key";
    OtherNameCertFile = dir_ + "/other-name.pem";
    OtherNameKeyFile = dir_ + "/other-name.key";
    OtherCaFile = dir_ + "/other-ca.pem";
    std::ofstream(dir_ + "/san.cnf") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    std::ofstream(dir_ + "/other.cnf") << "subjectAltName=DNS:carrier.example\n";
    ok_ = Run("req -x509 " + kEc + " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Corvel Test CA'") &&
          Run("req -x509 " + kEc + " -keyout other-ca.key -out other-ca.pem -days 2 -subj '/CN=Someone Else'") &&
          Run("req " + kEc + " -keyout server.key -out server.csr -subj /CN=127.0.0.1") &&
          Run("x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
              "-extfile san.cnf") &&
          Run("req " + kEc + " -keyout other-name.key -out other-name.csr -subj /CN=carrier.example") &&
          Run("x509 -req -in other-name.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out other-name.pem -days 2 "
              "-extfile other.cnf");
  }
  ~TestCa() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  TestCa(const TestCa&) = delete;
  TestCa& operator=(const TestCa&) = delete;

  bool Ok() const { return ok_; }
  const std::string& Dir() const { return dir_; }

  std::string CaFile, CertFile, KeyFile, OtherNameCertFile, OtherNameKeyFile, OtherCaFile;

 private:
  bool Run(const std::string& args) {
    const std::string command = "cd '" + dir_ + "' && openssl " + args + " >>openssl.log 2>&1";
    return std::system(command.c_str()) == 0;
  }

  inline static const std::string kEc = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  std::string dir_;
  bool ok_ = false;
};

}  // namespace iptest
