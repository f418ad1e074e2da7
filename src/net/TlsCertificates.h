#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <optional>

// Certificates as the log tells them, their fingerprints as the settings keep
// them, and the certificate and key the program shows as its own.

// "CN=localhost", or the whole subject where it has no common name.
QString subjectText(const QSslCertificate& certificate);
// The SHA-256 fingerprint as 64 upper-case hex digits.
QString fingerprint(const QSslCertificate& certificate);
// The same with a colon between bytes, as people compare them.
QString fingerprintWithColons(const QString& fingerprint);
// A stored fingerprint in either case, with or without colons, as 64
// upper-case hex digits; nothing when it is not one.
std::optional<QString> normalizedFingerprint(const QString& text);
// Subject, issuer, validity and fingerprint on one line.
QString certificateDetails(const QSslCertificate& certificate);

// A certificate and its private key from PEM files. Throws KvError naming the
// file and why it could not be used. An encrypted key without its passphrase
// throws TlsIdentity::PassphraseNeeded.
struct TlsIdentity
{
    static constexpr int PassphraseNeeded = 40214;
    QSslCertificate certificate;
    QSslKey key;

    static TlsIdentity load(const QString& certificatePath, const QString& keyPath,
                            const QByteArray& passphrase = {});
    bool isNull() const { return certificate.isNull() || key.isNull(); }
};
