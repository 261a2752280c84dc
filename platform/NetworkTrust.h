#pragma once

// Which certificate authorities the suite's TLS connections trust: the
// system's, plus any given here. Verification itself is never relaxed.

#include <QList>
#include <QSslCertificate>

namespace NetworkTrust {

// Adds to the process's trusted authorities. Call before the first request:
// Qt reuses an open connection to a host without looking at the TLS settings
// again, so a later change may not reach a host already talked to.
void addTrustedCertificates(const QList<QSslCertificate>& certificates);

} // namespace NetworkTrust
