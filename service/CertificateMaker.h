#pragma once

// Makes the certificates a service on loopback needs: a CA of its own and a
// server certificate it signs for localhost, 127.0.0.1 and ::1. The CA's key
// is thrown away once it has signed, so trusting ca.pem trusts this one
// server certificate and nothing anyone could sign later.

#include <QByteArray>
#include <QString>

class CertificateMaker
{
public:
    static inline const QString caFileName = QStringLiteral("ca.pem");
    static inline const QString certificateFileName = QStringLiteral("cert.pem");
    static inline const QString keyFileName = QStringLiteral("key.pem");
    static constexpr int caDays = 3650;
    static constexpr int certificateDays = 825;

    // Writes the three files into directory, made if missing; the key file is
    // readable by its owner only. Files of those names are replaced.
    static bool make(const QString& directory, QString* why = nullptr);

    // Whether the PEM private key belongs to the first certificate of the PEM.
    static bool keyMatches(const QByteArray& certificatePem, const QByteArray& keyPem);
};
