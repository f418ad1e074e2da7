#include "net/TlsCertificates.h"

#include "platform/KvError.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>

namespace {

constexpr int TlsFileError = 40215;

QString joined(const QStringList& parts)
{
    return parts.join(QStringLiteral(", "));
}

QString nameText(const QSslCertificate& c, bool issuer)
{
    const QStringList common =
        issuer ? c.issuerInfo(QSslCertificate::CommonName) : c.subjectInfo(QSslCertificate::CommonName);
    if (!common.isEmpty())
        return QStringLiteral("CN=") + joined(common);
    const QString whole = issuer ? c.issuerDisplayName() : c.subjectDisplayName();
    return whole.isEmpty() ? QStringLiteral("(no name)") : whole;
}

QByteArray readPem(const QString& path, const QString& what)
{
    if (path.isEmpty())
        throw KvError(TlsFileError, QStringLiteral("No TLS ") + what + QStringLiteral(" file is set"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw KvError(TlsFileError, QStringLiteral("TLS ") + what + QStringLiteral(" file ") + path +
                                        QStringLiteral(" cannot be read: ") + file.errorString());
    return file.readAll();
}

} // namespace

QString subjectText(const QSslCertificate& certificate)
{
    return nameText(certificate, false);
}

QString fingerprint(const QSslCertificate& certificate)
{
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex().toUpper());
}

QString fingerprintWithColons(const QString& fingerprint)
{
    QStringList bytes;
    for (qsizetype i = 0; i + 1 < fingerprint.size(); i += 2)
        bytes.append(fingerprint.mid(i, 2));
    return bytes.join(QLatin1Char(':'));
}

std::optional<QString> normalizedFingerprint(const QString& text)
{
    QString digits = text.trimmed().toUpper();
    digits.remove(QLatin1Char(':'));
    static const QRegularExpression hex(QStringLiteral("^[0-9A-F]{64}$"));
    if (!hex.match(digits).hasMatch())
        return std::nullopt;
    return digits;
}

QString certificateDetails(const QSslCertificate& c)
{
    const QString date = QStringLiteral("yyyy-MM-dd HH:mm 'UTC'");
    return QStringLiteral("subject ") + nameText(c, false) + QStringLiteral(", issuer ") + nameText(c, true) +
           QStringLiteral(", valid from ") + c.effectiveDate().toUTC().toString(date) +
           QStringLiteral(" to ") + c.expiryDate().toUTC().toString(date) + QStringLiteral(", SHA-256 ") +
           fingerprintWithColons(fingerprint(c));
}

TlsIdentity TlsIdentity::load(const QString& certificatePath, const QString& keyPath,
                              const QByteArray& passphrase)
{
    TlsIdentity id;
    const QList<QSslCertificate> chain =
        QSslCertificate::fromData(readPem(certificatePath, QStringLiteral("certificate")), QSsl::Pem);
    if (chain.isEmpty())
        throw KvError(TlsFileError, QStringLiteral("TLS certificate file ") + certificatePath +
                                        QStringLiteral(" holds no PEM certificate"));
    id.certificate = chain.first();
    const QByteArray pem = readPem(keyPath, QStringLiteral("key"));
    const bool encrypted = pem.contains("ENCRYPTED");
    if (encrypted && passphrase.isEmpty())
        throw KvError(PassphraseNeeded, QStringLiteral("The TLS key ") + keyPath +
                                            QStringLiteral(" is encrypted: its passphrase is needed"));
    // The certificate says which kind of key to read.
    const QSsl::KeyAlgorithm algorithm = id.certificate.publicKey().algorithm();
    id.key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey, passphrase);
    if (id.key.isNull())
        throw KvError(TlsFileError,
                      QStringLiteral("TLS key file ") + keyPath +
                          (encrypted ? QStringLiteral(" cannot be read: wrong passphrase, or not a ")
                                     : QStringLiteral(" cannot be read: not a ")) +
                          QStringLiteral("PEM private key of the certificate's kind"));
    return id;
}
