#pragma once

// Which certificate authorities the suite's TLS connections trust: the
// system's, plus any given here. Verification itself is never relaxed.

#include <QList>
#include <QSslCertificate>

namespace NetworkTrust {

// Adds to the process's trusted authorities. Call before the first request:
// Qt reuses an open connection to a host without looking at the TLS settings
// again, so a later change may not reach a host already talked to. Returns at
// once; the system's authorities are read in the background.
void addTrustedCertificates(const QList<QSslCertificate>& certificates);

// Makes the authorities added so far the default TLS configuration, waiting
// for the system's if they are still being read. Every request is built after
// this call (URLConnection makes it); main thread only.
void applyTrustedCertificates();

} // namespace NetworkTrust
