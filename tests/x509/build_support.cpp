#include "build_support.h"

#include "tqxcrypt_keys.h"

#include <gtest/gtest.h>

namespace buildtest {

using tqtest::sh;

const char kRootDn[] = "C=TW\nO=Orvane Test\nCN=Build Root";
const char kRootSubj[] = "/C=TW/O=Orvane Test/CN=Build Root";
// Trimming, E, a dotted key and a UTF-8 value; the tool gets the same entries.
const char kLeafDn[] =
    "C = TW\n O=Orvane Test \nOU=Unit\t\nCN=localhost\nE=leaf@example.org\n2.5.4.5=SN123\nstreet=Zoë 1\n";
const char kLeafSubj[] =
    "/C=TW/O=Orvane Test/OU=Unit/CN=localhost/emailAddress=leaf@example.org/serialNumber=SN123/street=Zoë 1";
const unsigned char kRootKeyId[20] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19,
                                      0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23};
const char kRootKeyIdHex[] = "10:11:12:13:14:15:16:17:18:19:1A:1B:1C:1D:1E:1F:20:21:22:23";
const unsigned char kLeafKeyId[20] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9,
                                      0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3};
const char kLeafKeyIdHex[] = "A0:A1:A2:A3:A4:A5:A6:A7:A8:A9:AA:AB:AC:AD:AE:AF:B0:B1:B2:B3";

namespace {

TQXCRYPT_BLOB blobOf(const unsigned char *bytes, size_t n) {
    return TQXCRYPT_BLOB{static_cast<uint64_t>(n), const_cast<unsigned char *>(bytes)};
}

}  // namespace

TQXCRYPT_HANDLE *buildRoot(TQXCRYPT_HANDLE *rootKey) {
    HandleOwner cert, pub;
    EXPECT_EQ(TQXCrypt_CreateCertificate(cert.out()), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_GetPublicKey(rootKey, pub.out()), TQ_RTN_OK);
    const unsigned char usage[] = {0x06};  // keyCertSign, cRLSign
    TQXCRYPT_BLOB usageBlob = blobOf(usage, sizeof usage), keyId = blobOf(kRootKeyId, sizeof kRootKeyId);
    const tqtest::CodeCase steps[] = {
        {"serial", TQXCrypt_CertSetSerialNumber(cert.get(), "01"), TQ_RTN_OK},
        {"issuer", TQXCrypt_CertSetIssuerName(cert.get(), kRootDn), TQ_RTN_OK},
        {"notBefore", TQXCrypt_CertSetNotBefore(cert.get(), "250101000000+0000"), TQ_RTN_OK},
        {"notAfter", TQXCrypt_CertSetNotAfter(cert.get(), "20600101000000-0000"), TQ_RTN_OK},
        {"subject", TQXCrypt_CertSetSubjectName(cert.get(), kRootDn), TQ_RTN_OK},
        {"key", TQXCrypt_CertSetPublicKey(cert.get(), pub.get()), TQ_RTN_OK},
        {"basicConstraints",
         TQXCrypt_CertSetExtension(cert.get(), "basicConstraints", "CA:TRUE,pathlen:1", 1), TQ_RTN_OK},
        {"keyUsage", TQXCrypt_CertSetExtension(cert.get(), "keyUsage", &usageBlob, 1), TQ_RTN_OK},
        {"subjectKeyIdentifier", TQXCrypt_CertSetExtension(cert.get(), "subjectKeyIdentifier", &keyId, 0),
         TQ_RTN_OK},
        {"sign", TQXCrypt_SignObject(cert.get(), rootKey, 4), TQ_RTN_OK},
    };
    tqtest::expectCodes(steps);
    return cert.release();
}

TQXCRYPT_HANDLE *buildLeaf(TQXCRYPT_HANDLE *root, TQXCRYPT_HANDLE *rootKey, int selector) {
    HandleOwner cert, leafKey(privateKey("leaf.key.pem")), pub;
    EXPECT_EQ(TQXCrypt_CreateCertificate(cert.out()), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_GetPublicKey(leafKey.get(), pub.out()), TQ_RTN_OK);
    const unsigned char nsType[] = {0xE0};          // client, server, email
    const unsigned char usage[] = {0xA0, 0x00};     // digitalSignature, keyEncipherment
    const unsigned char purposes[] = {0xFF, 0xFF};  // every purpose of the mask
    TQXCRYPT_BLOB nsBlob = blobOf(nsType, 1), usageBlob = blobOf(usage, 2), ekuBlob = blobOf(purposes, 2);
    TQXCRYPT_BLOB keyId = blobOf(kLeafKeyId, sizeof kLeafKeyId),
                  rootId = blobOf(kRootKeyId, sizeof kRootKeyId);
    std::string rootDirName = std::string("DirName=") + kRootDn;
    TQXCRYPT_AUTHORITY_KEY_ID_VALUE akid{&rootId, rootDirName.c_str(), "01"};
    const char *san =
        "DNS=localhost\tIP Address=127.0.0.1\tIP Address=::1\tEmail=leaf@example.org\t"
        "URI=http://leaf.example.org/\tRegistered ID=1.2.3.4\tmsUPN=zoë@example.org\t"
        "DirName=C=TW\nO=Orvane Test\nCN=Leaf Dir";
    const tqtest::CodeCase steps[] = {
        {"serial", TQXCrypt_CertSetSerialNumber(cert.get(), "0A0B0C"), TQ_RTN_OK},
        {"issuer", TQXCrypt_CertSetIssuer(cert.get(), root), TQ_RTN_OK},
        {"notBefore", TQXCrypt_CertSetNotBefore(cert.get(), "250601120000+0000"), TQ_RTN_OK},
        {"notAfter", TQXCrypt_CertSetNotAfter(cert.get(), "20550601120000+0000"), TQ_RTN_OK},
        {"subject", TQXCrypt_CertSetSubjectName(cert.get(), kLeafDn), TQ_RTN_OK},
        {"key", TQXCrypt_CertSetPublicKey(cert.get(), pub.get()), TQ_RTN_OK},
        {"nsCertType", TQXCrypt_CertSetExtension(cert.get(), "nsCertType", &nsBlob, 0), TQ_RTN_OK},
        {"keyUsage", TQXCrypt_CertSetExtension(cert.get(), "keyUsage", &usageBlob, 1), TQ_RTN_OK},
        {"subjectKeyIdentifier", TQXCrypt_CertSetExtension(cert.get(), "subjectKeyIdentifier", &keyId, 0),
         TQ_RTN_OK},
        {"subjectAltName", TQXCrypt_CertSetExtension(cert.get(), "subjectAltName", san, 0), TQ_RTN_OK},
        {"issuerAltName",
         TQXCrypt_CertSetExtension(cert.get(), "issuerAltName", "URI=http://root.example.org/", 0),
         TQ_RTN_OK},
        {"basicConstraints", TQXCrypt_CertSetExtension(cert.get(), "basicConstraints", "CA:FALSE", 0),
         TQ_RTN_OK},
        {"authorityKeyIdentifier", TQXCrypt_CertSetExtension(cert.get(), "authorityKeyIdentifier", &akid, 0),
         TQ_RTN_OK},
        {"crlDistributionPoints",
         TQXCrypt_CertSetExtension(cert.get(), "crlDistributionPoints", "URI=http://crl.example.org/root.crl",
                                   0),
         TQ_RTN_OK},
        {"extendedKeyUsage", TQXCrypt_CertSetExtension(cert.get(), "extendedKeyUsage", &ekuBlob, 0),
         TQ_RTN_OK},
        {"sign", TQXCrypt_SignObject(cert.get(), rootKey, selector), TQ_RTN_OK},
    };
    tqtest::expectCodes(steps);
    return cert.release();
}

ToolCa::ToolCa(const std::string &certPem, const std::string &keyPem) {
    sh("mkdir -p '" + dir_.file("db") + "' && : > '" + dir_.file("db/index.txt") + "' && echo 01 > '" +
       dir_.file("db/crlnumber") + "'");
    base_ = "[ ca ]\ndefault_ca = build\n[ build ]\ndir = " + dir_.path() +
            "\ndatabase = $dir/db/index.txt\nnew_certs_dir = $dir/db\ncertificate = " + certPem +
            "\nprivate_key = " + keyPem +
            "\nserial = $dir/db/serial\ncrlnumber = $dir/db/crlnumber\ndefault_md = sha256\n"
            "policy = anything\nunique_subject = no\nstring_mask = utf8only\n[ anything ]\n"
            "commonName = supplied\n[ req ]\ndistinguished_name = dn\nstring_mask = utf8only\n[ dn ]\n";
    tqtest::writeFile(config(), base_);
}

Bytes ToolCa::issue(const std::string &requestKey, const std::string &subj, const std::string &serial,
                    const std::string &start, const std::string &end, const std::string &extensions,
                    bool selfSign) {
    tqtest::writeFile(dir_.file("db/serial"), serial + "\n");
    tqtest::writeFile(dir_.file("ext.cnf"), extensions);
    sh("openssl req -new -config '" + config() + "' -utf8 -key '" + requestKey + "' -subj '" + subj +
       "' -out '" + dir_.file("twin.csr") + "'");
    sh("openssl ca -batch -notext -config '" + config() + "' -in '" + dir_.file("twin.csr") + "' -subj '" +
       subj + "' -utf8 -preserveDN -startdate " + start + " -enddate " + end + " -extfile '" +
       dir_.file("ext.cnf") + "' " + (selfSign ? "-selfsign -keyfile '" + requestKey + "' " : "") + "-out '" +
       dir_.file("twin.pem") + "' 2>&1");
    return tqtest::shBytes("openssl x509 -in '" + dir_.file("twin.pem") + "' -outform DER");
}

void ToolCa::revoked(const std::string &serial, const std::string &date, const std::string &reason) {
    std::string line = "R\t301231235959Z\t" + date + (reason.empty() ? "" : "," + reason) + "\t" + serial +
                       "\tunknown\t/CN=revoked " + serial + "\n";
    sh("printf '%s' '" + line + "' >> '" + dir_.file("db/index.txt") + "'");
}

Bytes ToolCa::crl(const std::string &lastUpdate, const std::string &nextUpdate,
                  const std::string &extensions) {
    tqtest::writeFile(config(), base_ + "[ crl_ext ]\n" + extensions);
    sh("openssl ca -batch -gencrl -config '" + config() + "' -crl_lastupdate " + lastUpdate +
       " -crl_nextupdate " + nextUpdate + " -crlexts crl_ext -out '" + dir_.file("twin.crl") + "' 2>&1");
    return tqtest::shBytes("openssl crl -in '" + dir_.file("twin.crl") + "' -outform DER");
}

}  // namespace buildtest

namespace buildtest {

std::string saved(const tqtest::TempDir &dir, const std::string &name, const Bytes &bytes) {
    std::string file = dir.file(name);
    tqtest::writeFile(file, bytes);
    return file;
}

::testing::AssertionResult sameDer(const Bytes &ours, const Bytes &twin) {
    if (!ours.empty() && ours == twin) return ::testing::AssertionSuccess();
    tqtest::TempDir dir;
    std::string a = saved(dir, "ours.der", ours), b = saved(dir, "twin.der", twin);
    return ::testing::AssertionFailure()
           << "DER differs (" << ours.size() << " and " << twin.size() << " bytes)\n"
           << tqtest::run("openssl asn1parse -inform DER -i -in '" + a + "' 2>&1 | cut -c6- > '" + a +
                          ".txt'; openssl asn1parse -inform DER -i -in '" + b + "' 2>&1 | cut -c6- > '" + b +
                          ".txt'; diff '" + a + ".txt' '" + b + ".txt' | head -60");
}

const char kRootExtensions[] =
    "basicConstraints = critical, CA:TRUE, pathlen:1\n"
    "keyUsage = critical, keyCertSign, cRLSign\n"
    "subjectKeyIdentifier = 10:11:12:13:14:15:16:17:18:19:1A:1B:1C:1D:1E:1F:20:21:22:23\n";

const char kLeafExtensions[] =
    "nsCertType = client, server, email\n"
    "keyUsage = critical, digitalSignature, keyEncipherment\n"
    "subjectKeyIdentifier = A0:A1:A2:A3:A4:A5:A6:A7:A8:A9:AA:AB:AC:AD:AE:AF:B0:B1:B2:B3\n"
    "subjectAltName = @leaf_san\n"
    "issuerAltName = URI:http://root.example.org/\n"
    "basicConstraints = CA:FALSE\n"
    "authorityKeyIdentifier = keyid:always, issuer:always\n"
    "crlDistributionPoints = URI:http://crl.example.org/root.crl\n"
    "extendedKeyUsage = serverAuth, clientAuth, emailProtection, codeSigning, timeStamping, msCodeInd, "
    "msCodeCom, msCTLSign, msSGC, msEFS, nsSGC, 2.5.29.27, 2.5.29.21, 2.5.29.24, 1.3.101.1.4.1, "
    "msSmartcardLogin\n"
    "[ leaf_san ]\nDNS.1 = localhost\nIP.1 = 127.0.0.1\nIP.2 = ::1\nemail.1 = leaf@example.org\n"
    "URI.1 = http://leaf.example.org/\nRID.1 = 1.2.3.4\notherName.1 = "
    "msUPN;FORMAT:UTF8,UTF8:zoë@example.org\n"
    "dirName.1 = leaf_dir\n"
    "[ leaf_dir ]\nC = TW\nO = Orvane Test\nCN = Leaf Dir\n";

}  // namespace buildtest
