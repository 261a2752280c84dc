#pragma once

// The service's answers are JSON objects; a refusal is an object with the one
// member "message", which the programs show to their user.

#include <QString>
#include <httplib.h>

namespace JsonAnswer {

void setMessage(httplib::Response& response, int status, const QString& text);

// What a refusal of this status says when nothing more particular is known.
QString refusalText(int status);

} // namespace JsonAnswer
