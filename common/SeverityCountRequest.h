#pragma once

// The one request the suite makes: the user's name and password posted as a
// form to the service's severity-count endpoint, which this build compiles in.

#include "platform/URLConnection.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

QUrl SeverityCountURL();

// The PEM text of the certificates this build trusts for the service besides
// the system's (TARVENDESK_SERVICE_CA); empty when it names none.
QByteArray SeverityCountTrustedCertificates();

// POST with only a form Content-Type; the body is
// "username=<name>&password=<password>", each value form-encoded from UTF-8.
URLRequest severityCountRequest(
    const QString& userName, const QString& password, const QUrl& url = SeverityCountURL());

// Every byte outside the unreserved set (letters, digits, "-._~") percent-
// encoded, so that any form decoder gives back exactly the typed text.
QByteArray formEncoded(const QString& value);
