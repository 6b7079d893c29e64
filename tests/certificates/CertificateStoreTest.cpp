// The certificate store checked with OpenSSL's own client-side checks: the
// names a client may use, the chain to the authority, renewal and the modes
// of the key files.
#include "certificates/CertificateStore.h"
#include "certificates/OpenSsl.h"
#include "certificates/ServerNames.h"
#include <openssl/x509v3.h>
#include <QFile>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

using namespace siderama;
namespace fs = std::filesystem;

namespace {
QByteArray contents(const fs::path& file) {
    QFile f(QString::fromStdString(file.string()));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

fs::perms mode(const fs::path& path) { return fs::status(path).permissions() & fs::perms::mask; }

class Certificates : public ::testing::Test {
protected:
    QTemporaryDir scratch;
    const fs::path directory = scratch.filePath("tls").toStdString();
    const CertificateStore store{directory};
};

TEST_F(Certificates, NameEveryAddressChainToTheAuthorityAndKeepKeysPrivate) {
    EXPECT_EQ(store.prepare(ServerNames::ofThisMachine()).size(), 2u);
    const openssl::Certificate certificate = openssl::readCertificate(store.certificateFile());
    const QString host = QHostInfo::localHostName();
    for (const QString& name : {host, QString("localhost"), host.section('.', 0, 0) + ".local"})
        EXPECT_EQ(X509_check_host(certificate.get(), name.toUtf8().constData(), 0, 0, nullptr), 1) << name.toStdString();
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.isLinkLocal()) continue;
        const QString text = address.toString().section('%', 0, 0);
        EXPECT_EQ(X509_check_ip_asc(certificate.get(), text.toUtf8().constData(), 0), 1) << text.toStdString();
    }

    X509_STORE* trusted = X509_STORE_new();
    X509_STORE_add_cert(trusted, openssl::readCertificate(store.authorityFile()).get());
    X509_STORE_CTX* check = X509_STORE_CTX_new();
    X509_STORE_CTX_init(check, trusted, certificate.get(), nullptr);
    X509_STORE_CTX_set_purpose(check, X509_PURPOSE_SSL_SERVER);
    EXPECT_EQ(X509_verify_cert(check), 1) << X509_verify_cert_error_string(X509_STORE_CTX_get_error(check));
    X509_STORE_CTX_free(check);
    X509_STORE_free(trusted);

    EXPECT_EQ(mode(directory), fs::perms::owner_all);
    EXPECT_EQ(mode(directory / "ca.key"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(mode(store.keyFile()), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(store.prepare(ServerNames::ofThisMachine()).empty());
    // A folder and a key found open to others are restricted, and said so.
    fs::permissions(directory, fs::perms::group_read | fs::perms::others_exec, fs::perm_options::add);
    fs::permissions(directory / "ca.key", fs::perms::others_read, fs::perm_options::add);
    EXPECT_EQ(store.prepare(ServerNames::ofThisMachine()).size(), 2u);
    EXPECT_EQ(mode(directory), fs::perms::owner_all);
    EXPECT_EQ(mode(directory / "ca.key"), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(Certificates, ServerCertificateIsRenewedOnlyWhenItMustBe) {
    const ServerNames names{{"observatory"}, {"127.0.0.1"}};
    const struct {
        const char* name;
        int firstDays;
        ServerNames later;
        std::function<void()> meddle;
        bool renewed;
    } cases[] = {
        {"a year left", 365, names, {}, false},
        {"31 days left", 31, names, {}, false},
        {"29 days left", 29, names, {}, true},
        {"a new address", 365, {{"observatory"}, {"127.0.0.1", "192.0.2.9"}}, {}, true},
        {"key of another certificate", 365, names,
         [&] { fs::copy_file(directory / "ca.key", store.keyFile(), fs::copy_options::overwrite_existing); }, true},
        {"signed by an earlier authority", 365, names, [&] { fs::remove(directory / "ca.crt"); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(directory);
        store.prepare(names, c.firstDays);
        if (c.meddle) c.meddle();
        const QByteArray before = contents(store.certificateFile());
        store.prepare(c.later);
        EXPECT_EQ(contents(store.certificateFile()) != before, c.renewed);
        const openssl::Certificate now = openssl::readCertificate(store.certificateFile());
        EXPECT_GE(openssl::daysLeft(now.get()), CertificateStore::renewalDays);
    }
}

TEST_F(Certificates, UnreadableAuthorityIsNeverReplaced) {
    store.prepare({{"observatory"}, {}});
    const QByteArray authority = contents(store.authorityFile());
    fs::resize_file(directory / "ca.key", 9);  // a key cut short
    EXPECT_THROW(store.prepare({{"observatory"}, {"192.0.2.9"}}), std::runtime_error);
    EXPECT_EQ(contents(store.authorityFile()), authority);
}
}  // namespace
