#pragma once

// Which certificate authorities the suite's TLS connections trust: the
// system's, which Qt leaves OpenSSL to look up as a chain needs them, and any
// added here. Setting the added ones as Qt's list would turn that lookup off
// and cost every program the parsing of the whole system bundle at its start;
// instead a chain the system's authorities could not verify is verified once
// more, by OpenSSL, against the added ones alone. Verification is never
// relaxed. Main thread only.

#include <QList>
#include <QSslCertificate>

class QNetworkReply;

namespace NetworkTrust {

void addTrustedCertificates(const QList<QSslCertificate>& certificates);
// The same from PEM text, read only when a chain first needs the added ones:
// reading a certificate loads the TLS backend, which would hold up a start.
// Text that holds no certificate is logged then.
void addTrustedCertificates(const QByteArray& pem);

// True when the chain (the server's certificate first) leads up to an added
// authority and is good for a TLS server named host: signatures, dates,
// purpose and name, as OpenSSL checks them.
bool isTrustedByAddedCertificates(const QList<QSslCertificate>& chain, const QString& host);

// The reply goes on when its only fault is a chain the added authorities
// verify for the reply's host; any other fault stays. Call before the
// reply's first event.
void applyTrustedCertificates(QNetworkReply* reply);

} // namespace NetworkTrust
